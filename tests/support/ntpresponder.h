#pragma once

#include "timekeeping/ntppacket.h"

#include <QUdpSocket>
#include <array>
#include <functional>
#include <optional>

namespace ostrelle {

// What a loopback responder puts into its replies.
struct NtpReplyFields
{
    std::uint8_t leap = 0;
    std::uint8_t version = NtpVersion;
    std::uint8_t mode = NtpModeServer;
    std::uint8_t stratum = 1;
    std::array<std::uint8_t, 4> referenceId = {'G', 'P', 'S', 0};
    // NtpSeconds; when absent, referenceAge seconds before the receive time.
    std::optional<double> referenceTime;
    double referenceAge = 16.0;
    // Seconds added to the responder's clock: the offset the client should measure.
    double offset = 0.0;
    // Seconds between the receive and the transmit timestamp.
    double holdTime = 0.0;
};

// The server's side of one exchange: a mode-4 reply to request whose originate field is the
// request's transmit field, received and transmitted at now (NtpSeconds) plus fields.offset.
QByteArray BuildNtpReply(const QByteArray& request, const NtpReplyFields& fields, double now);

// A small NTP server on a loopback address and a port of the system's choosing (or a given one),
// for tests and benchmarks. It answers every request from where it came, or keeps silent, or
// sends bytes of the test's choosing instead.
class NtpResponder : public QObject
{
    Q_OBJECT
public:
    explicit NtpResponder(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                          quint16 port = 0, QObject* parent = nullptr);

    bool isListening() const { return m_socket.state() == QAbstractSocket::BoundState; }
    QString errorString() const { return m_socket.errorString(); }
    QHostAddress address() const { return m_socket.localAddress(); }
    quint16 port() const { return m_socket.localPort(); }

    NtpReplyFields fields;
    // Counts and records requests, but sends nothing back.
    bool silent = false;
    // Sent in place of the built reply, byte for byte.
    std::optional<QByteArray> customReply;
    // The responder's clock in NtpSeconds; the real UTC clock unless a test sets one.
    std::function<double()> now;

    int requestCount() const { return m_requestCount; }
    QByteArray lastRequest() const { return m_lastRequest; }
    QHostAddress lastPeerAddress() const { return m_lastPeerAddress; }
    quint16 lastPeerPort() const { return m_lastPeerPort; }

    // Sends an unsolicited datagram from this responder's address and port.
    bool sendTo(const QByteArray& datagram, const QHostAddress& address, quint16 port);

    // The current UTC time in NtpSeconds, to the nanosecond.
    static double realNow();

signals:
    void requestReceived(const QByteArray& request);
    void replied(const QByteArray& reply);

private:
    void readRequests();

    QUdpSocket m_socket;
    int m_requestCount = 0;
    QByteArray m_lastRequest;
    QHostAddress m_lastPeerAddress;
    quint16 m_lastPeerPort = 0;
};

} // namespace ostrelle
