#pragma once

#include "platform/hostresolver.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <memory>

#include <gnutls/gnutls.h>
#include <sys/types.h>

namespace ostrelle {

// The server certificate's names and end of validity, for the row's tooltip.
struct NtsCertificateInfo
{
    QString subject;
    QString issuer;
    QDateTime expiry; // UTC
};

// The outcome of one key exchange: keys, cookies and where to send NTP, or why there are none.
struct NtsKeResult
{
    bool ok = false;
    QString reason; // "NTS: ..." when not ok
    QByteArray c2sKey;
    QByteArray s2cKey;
    QList<QByteArray> cookies;
    QString ntpServer;
    quint16 ntpPort = 123;
    NtsCertificateInfo certificate;
};

// The client side of the NTS key exchange: TLS 1.3 with ALPN "ntske/1" over a QTcpSocket, the
// TLS session GnuTLS's own and fed from the socket, so the event loop never waits on it.
class NtsKeClient : public QObject
{
    Q_OBJECT
public:
    // Names are looked up through resolver.
    explicit NtsKeClient(HostResolver& resolver = SystemHostResolver(), QObject* parent = nullptr);
    ~NtsKeClient() override;

    // A PEM file of certificates trusted beside the system's store; for tests. A running exchange
    // starts again with it, within what is left of its time.
    void setExtraTrustFile(const QString& path);

    // Connects to host:port and runs the exchange; finished() follows within timeout, whatever
    // happens. A running exchange is abandoned first, without a signal.
    void start(const QString& host, quint16 port, std::chrono::milliseconds timeout);
    // Drops a running exchange without a signal.
    void abort();
    bool isRunning() const { return m_deadline.isActive(); }

signals:
    void finished(const ostrelle::NtsKeResult& result);

private:
    static ssize_t pushToSocket(void* self, const void* data, size_t size);
    static ssize_t pullFromBuffer(void* self, void* data, size_t size);

    void drive();
    bool completeHandshake();
    void fail(const QString& reason);
    void failLater(const QString& reason);
    void succeed();
    void release();
    void onSocketError(QAbstractSocket::SocketError error);
    void connectTo(const QHostAddress& address);

    HostResolver& m_resolver;

    QTcpSocket m_socket;
    QTimer m_deadline;
    QString m_host;
    quint16 m_port = 0;
    QString m_extraTrustFile;
    QByteArray m_incoming; // TLS records received and not yet read by GnuTLS
    QByteArray m_records;  // key exchange records decrypted so far
    // The host name or address the certificate must name. GnuTLS keeps pointers to them, not
    // copies, for the whole session: they must outlive it.
    QByteArray m_verifiedName;
    QByteArray m_verifiedAddress;
    gnutls_typed_vdata_st m_verifyData{};
    // Bumped by every start() and release(): a lookup that comes back for an abandoned exchange
    // is dropped.
    quint64 m_attempt = 0;
    bool m_peerClosed = false;
    bool m_handshakeDone = false;
    NtsKeResult m_result;
    gnutls_session_int* m_session = nullptr;
    std::shared_ptr<gnutls_certificate_credentials_st> m_credentials;
    QString m_credentialsTrustFile;
};

} // namespace ostrelle
