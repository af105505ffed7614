#pragma once

#include "platform/udpchannel.h"

#include <QAbstractSocket>
#include <QHostAddress>

class QHostInfo;
class QUdpSocket;

namespace ostrelle {

// The UDP channel over a QUdpSocket: a fresh socket for each request, bound to the preferred local
// port when it can be had and connected to the one server's address, so that the system drops
// datagrams from anyone else. Only a socket that cannot be made, or has become useless, is reported
// as an error; every failure of one request is left to the poll cycle's time-out.
class QtUdpChannel final : public UdpChannel
{
    Q_OBJECT
public:
    explicit QtUdpChannel(quint16 remotePort = 123, quint16 preferredLocalPort = 123,
                          QObject* parent = nullptr);
    ~QtUdpChannel() override;

    void close() override;
    void setRemoteHost(const QString& host) override;
    // ready() always follows from the event loop, never from inside this call, literal address or not.
    void connectToRemote() override;
    bool send(const QByteArray& datagram) override;

    // The local port of the current socket; 0 when there is none.
    quint16 localPort() const;
    // A host name is being resolved for the current request.
    bool isLookingUp() const { return m_lookupId != -1; }
    // The last failure of a request that was let pass (UnknownSocketError when none since the last
    // connectToRemote); lets tests see that a refusal has been taken in.
    QAbstractSocket::SocketError lastIgnoredError() const { return m_lastIgnoredError; }

private:
    void hostLookedUp(quint64 request, const QHostInfo& info);
    void openSocket(quint64 request, const QHostAddress& address);
    QUdpSocket* boundSocket(QAbstractSocket::NetworkLayerProtocol family, quint16 port,
                            QAbstractSocket::SocketError& error, QString& errorText);
    void readDatagrams();
    void socketFailed(QAbstractSocket::SocketError error);
    void reportUnusable(quint64 request, const QString& description);
    void dropSocket();

    const quint16 m_remotePort;
    const quint16 m_preferredLocalPort;
    QString m_host;
    QUdpSocket* m_socket = nullptr;
    int m_lookupId = -1;
    // Bumped by every close(): a lookup result, a queued open or a queued report that carries an
    // older number belongs to a request that has been given up.
    quint64 m_generation = 0;
    QAbstractSocket::SocketError m_lastIgnoredError = QAbstractSocket::UnknownSocketError;
};

} // namespace ostrelle
