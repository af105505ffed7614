#pragma once

#include "platform/nativeudpsocket.h"
#include "platform/udpchannel.h"

#include <QHostAddress>
#include <QString>

class QHostInfo;
class QSocketNotifier;

namespace ostrelle {

// The UDP channel on a socket of the operating system's own: a fresh socket for each request,
// bound to the preferred local port when it can be had and connected to the one server's address,
// so that the system drops datagrams from anyone else. It asks the system to stamp every datagram
// with the time it arrived (SO_TIMESTAMPNS on Linux, SIO_TIMESTAMPING on Windows 10 2004 and
// later), so that a reply that waits for a busy event loop is still timed to the moment it reached
// the machine; where the system cannot, the reply is timed when it is read. Only a socket that
// cannot be made at all is reported as an error; every failure of one request is left to the poll
// cycle's time-out.
class NativeUdpChannel final : public UdpChannel
{
    Q_OBJECT
public:
    explicit NativeUdpChannel(quint16 remotePort = 123, quint16 preferredLocalPort = 123,
                              QObject* parent = nullptr);
    ~NativeUdpChannel() override;

    void close() override;
    void setRemoteHost(const QString& host, quint16 port = 0) override;
    // ready() always follows from the event loop, never from inside this call.
    void connectToRemote() override;
    bool send(const QByteArray& datagram) override;
    bool send(const QByteArray& datagram, const Clock& clock,
              std::chrono::system_clock::time_point& sentAt) override;

    // The local port of the current socket; 0 when there is none.
    quint16 localPort() const;
    bool isLookingUp() const { return m_lookupId != -1; }
    // Whether the current socket's datagrams come stamped with their arrival.
    bool stampsArrivals() const { return m_socket.stampsArrivals(); }
    // The system's error number (errno, or WSAGetLastError()) of the last failure of a request that
    // was let pass (0 when none since the last connectToRemote); lets tests see that an ICMP
    // refusal has been taken in.
    int lastIgnoredError() const { return m_lastIgnoredError; }

private:
    void hostLookedUp(quint64 request, const QHostInfo& info);
    void openSocket(quint64 request, const QHostAddress& address);
    void readDatagrams();
    void reportUnusable(quint64 request, const QString& description);
    void dropSocket();

    const quint16 m_remotePort;
    const quint16 m_preferredLocalPort;
    QString m_host;
    quint16 m_requestPort = 0; // this request's port when it is not m_remotePort
    NativeUdpSocket m_socket;
    QSocketNotifier* m_notifier = nullptr;
    int m_lookupId = -1;
    // Bumped by every close(): a lookup result, a queued open or a queued report that carries an
    // older number belongs to a request that has been given up.
    quint64 m_generation = 0;
    int m_lastIgnoredError = 0;
};

} // namespace ostrelle
