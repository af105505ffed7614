#pragma once

#include "ntp/nts/ntsextensions.h"
#include "ntp/nts/ntskeclient.h"
#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace ostrelle {

class AesSivCmac256;

// Everything NTS knows about one server between polls: the keys and cookies of its last key
// exchange (in memory only), where its NTP service is, and the request awaiting its reply.
// A poll step: when needsKeyExchange(), startKeyExchange() with what is left of the step's time
// and wait for keyExchangeFinished(); then send authenticatedRequest() to ntpAddress():ntpPort()
// and give each datagram to verifyReply() before the plain reply checks. Only an accepted reply
// may be shown or set the clock.
class NtsSession : public QObject
{
    Q_OBJECT
public:
    // The server whose key exchange listens at host:keyExchangePort.
    NtsSession(const QString& host, quint16 keyExchangePort, QObject* parent = nullptr);
    ~NtsSession() override;

    // A PEM file of certificates trusted beside the system's store; for tests.
    void setExtraTrustFile(const QString& path) { m_client.setExtraTrustFile(path); }

    // True without keys, without cookies, and after a NAK: the next poll starts with a key exchange.
    bool needsKeyExchange() const;
    bool keyExchangeRunning() const { return m_client.isRunning(); }
    // Runs the key exchange; keyExchangeFinished() follows within timeout.
    void startKeyExchange(std::chrono::milliseconds timeout);
    // Drops a running key exchange without a signal.
    void abortKeyExchange() { m_client.abort(); }
    // Takes the keys, cookies and NTP address of a key exchange, or keeps its reason.
    void adoptKeyExchange(const NtsKeResult& result);

    // Where to send the NTP requests, as the key exchange named it.
    QString ntpAddress() const { return m_ntpAddress; }
    quint16 ntpPort() const { return m_ntpPort; }
    NtsCertificateInfo certificate() const { return m_certificate; }
    int cookieCount() const { return int(m_cookies.size()); }

    // The request to send: header with the NTS fields, spending one cookie and remembering its
    // unique identifier. Empty when a key exchange is needed first.
    QByteArray authenticatedRequest(const NtpPacketBytes& header);
    // Checks the reply to the last request; an accepted one adds its cookies, a NAK asks for a new
    // key exchange. Each request is answered once: a second reply to it is refused.
    NtsReplyCheck verifyReply(const QByteArray& datagram);

signals:
    // ok with reason empty, or the reason ("NTS: certificate expired", ...).
    void keyExchangeFinished(bool ok, const QString& reason);

private:
    QString m_host;
    quint16 m_keyExchangePort = 0;
    NtsKeClient m_client;
    std::unique_ptr<AesSivCmac256> m_c2s;
    std::unique_ptr<AesSivCmac256> m_s2c;
    QList<QByteArray> m_cookies;
    QByteArray m_pendingUniqueId;
    QString m_ntpAddress;
    quint16 m_ntpPort = 123;
    NtsCertificateInfo m_certificate;
    bool m_nakReceived = false;
};

} // namespace ostrelle
