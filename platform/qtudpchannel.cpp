#include "platform/qtudpchannel.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace ostrelle {

namespace {

// Larger than any UDP payload, so that a read never cuts a datagram short.
constexpr qint64 MaxDatagramSize = 65536;

// Neither the preferred nor a system-chosen port could be bound: does that rule out every server?
bool noSocketCanBeMade(QAbstractSocket::SocketError error)
{
    switch (error) {
    // The machine lacks this server's address family (an IPv6 server without IPv6): only it is lost.
    case QAbstractSocket::UnsupportedSocketOperationError:
    case QAbstractSocket::SocketAddressNotAvailableError:
        return false;
    // Out of descriptors or memory, or sockets forbidden altogether: no server can be polled.
    default:
        return true;
    }
}

// An error raised by a bound socket: has the socket itself become useless?
bool makesSocketUnusable(QAbstractSocket::SocketError error)
{
    switch (error) {
    // The system has run out of sockets or buffers: every further request would fail the same way.
    case QAbstractSocket::SocketResourceError:
    // The bound socket refuses the very operations a request needs.
    case QAbstractSocket::UnsupportedSocketOperationError:
        return true;
    // ICMP port unreachable, no route, a lost name, a firewall refusing one datagram and the like:
    // one request has failed and its row times out.
    default:
        return false;
    }
}

} // namespace

QtUdpChannel::QtUdpChannel(quint16 remotePort, quint16 preferredLocalPort, QObject* parent)
    : UdpChannel(parent), m_remotePort(remotePort), m_preferredLocalPort(preferredLocalPort)
{
}

QtUdpChannel::~QtUdpChannel()
{
    close();
}

void QtUdpChannel::close()
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    dropSocket();
}

void QtUdpChannel::setRemoteHost(const QString& host)
{
    m_host = host;
}

void QtUdpChannel::connectToRemote()
{
    close();
    m_lastIgnoredError = QAbstractSocket::UnknownSocketError;
    const quint64 request = m_generation;

    QHostAddress address;
    if (address.setAddress(m_host)) {
        // Queued like a lookup result, so that the caller is never re-entered from here.
        QMetaObject::invokeMethod(
            this, [this, request, address] { openSocket(request, address); }, Qt::QueuedConnection);
        return;
    }
    // A resolver that does not answer can take many seconds; the window must not wait for it.
    m_lookupId = QHostInfo::lookupHost(
        m_host, this, [this, request](const QHostInfo& info) { hostLookedUp(request, info); });
}

bool QtUdpChannel::send(const QByteArray& datagram)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return m_socket->write(datagram) == datagram.size();
}

quint16 QtUdpChannel::localPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void QtUdpChannel::hostLookedUp(quint64 request, const QHostInfo& info)
{
    if (request != m_generation)
        return;
    m_lookupId = -1;
    if (info.error() != QHostInfo::NoError)
        return;
    // One request, one address: the resolver's first, since getaddrinfo has already put the
    // addresses in the system's order of preference (RFC 6724), which favours a reachable family.
    for (const QHostAddress& address : info.addresses()) {
        const auto family = address.protocol();
        if (family == QAbstractSocket::IPv4Protocol || family == QAbstractSocket::IPv6Protocol) {
            openSocket(request, address);
            return;
        }
    }
}

void QtUdpChannel::openSocket(quint64 request, const QHostAddress& address)
{
    if (request != m_generation)
        return;

    QHostAddress target = address;
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    // An IPv4-mapped IPv6 address would need a dual-stack socket; send to the IPv4 address instead.
    if (isIpv4)
        target = QHostAddress(ipv4);
    const auto family = target.protocol();
    if (family != QAbstractSocket::IPv4Protocol && family != QAbstractSocket::IPv6Protocol)
        return;

    auto error = QAbstractSocket::UnknownSocketError;
    QString errorText;
    QUdpSocket* socket = boundSocket(family, m_preferredLocalPort, error, errorText);
    // The preferred port needs privilege and may be held by an NTP daemon; any port will do.
    if (!socket && m_preferredLocalPort != 0)
        socket = boundSocket(family, 0, error, errorText);
    if (!socket) {
        if (noSocketCanBeMade(error))
            reportUnusable(request, errorText);
        return;
    }

    m_socket = socket;
    connect(socket, &QUdpSocket::readyRead, this, &QtUdpChannel::readDatagrams);
    connect(socket, &QUdpSocket::errorOccurred, this, &QtUdpChannel::socketFailed);
    connect(socket, &QUdpSocket::connected, this, &UdpChannel::ready);
    // Connected, the system drops datagrams from any other address or port.
    socket->connectToHost(target, m_remotePort);
}

QUdpSocket* QtUdpChannel::boundSocket(QAbstractSocket::NetworkLayerProtocol family, quint16 port,
                                      QAbstractSocket::SocketError& error, QString& errorText)
{
    auto* socket = new QUdpSocket(this);
    // NTP never goes through a proxy; asking the system for one costs a lookup on every request.
    socket->setProxy(QNetworkProxy::NoProxy);
    const QHostAddress any(family == QAbstractSocket::IPv6Protocol ? QHostAddress::AnyIPv6
                                                                   : QHostAddress::AnyIPv4);
    // Never shared: a second socket on port 123 would take replies meant for a running NTP daemon.
    // Judged by the return value only; the error signal bind() emits has no listener yet.
    if (socket->bind(any, port, QAbstractSocket::DontShareAddress))
        return socket;
    error = socket->error();
    errorText = socket->errorString();
    delete socket;
    return nullptr;
}

void QtUdpChannel::readDatagrams()
{
    // Read without asking hasPendingDatagrams() first: after an ICMP refusal readyRead comes with
    // no datagram, and only a read takes the error in and re-arms the notifier. Skipping the read
    // would leave the socket deaf to every later reply.
    const quint64 request = m_generation;
    QByteArray buffer(MaxDatagramSize, Qt::Uninitialized);
    while (m_socket && request == m_generation) {
        const qint64 size = m_socket->readDatagram(buffer.data(), buffer.size());
        if (size < 0)
            break;
        emit datagramArrived(buffer.left(size));
    }
}

void QtUdpChannel::socketFailed(QAbstractSocket::SocketError error)
{
    if (!m_socket)
        return;
    if (makesSocketUnusable(error)) {
        reportUnusable(m_generation, m_socket->errorString());
        return;
    }
    // A read that found nothing waiting is no failure at all.
    if (error != QAbstractSocket::TemporaryError)
        m_lastIgnoredError = error;
}

void QtUdpChannel::reportUnusable(quint64 request, const QString& description)
{
    // Reported from the event loop: the receiver opens a modal message, which must not run inside
    // the socket's own signal (the socket may be deleted while that message is open).
    QMetaObject::invokeMethod(
        this,
        [this, request, description] {
            if (request == m_generation)
                emit errorOccurred(description);
        },
        Qt::QueuedConnection);
}

void QtUdpChannel::dropSocket()
{
    if (!m_socket)
        return;
    QUdpSocket* socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    // Later, not now: this may run inside one of the socket's own signals.
    socket->deleteLater();
}

} // namespace ostrelle
