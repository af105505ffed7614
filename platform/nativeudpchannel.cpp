#include "platform/nativeudpchannel.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QSocketNotifier>

namespace ostrelle {

namespace {

// Larger than any UDP payload, so that a read never cuts a datagram short.
constexpr qsizetype MaxDatagramSize = 65536;

// A socket whose reads fail again and again must not hold the event loop; the notifier calls
// again when something new arrives.
constexpr int MaxFailedReadsInARow = 16;

} // namespace

NativeUdpChannel::NativeUdpChannel(quint16 remotePort, quint16 preferredLocalPort, QObject* parent)
    : UdpChannel(parent), m_remotePort(remotePort), m_preferredLocalPort(preferredLocalPort)
{
}

NativeUdpChannel::~NativeUdpChannel()
{
    close();
}

void NativeUdpChannel::close()
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    dropSocket();
}

void NativeUdpChannel::setRemoteHost(const QString& host, quint16 port)
{
    m_host = host;
    m_requestPort = port;
}

void NativeUdpChannel::connectToRemote()
{
    close();
    m_lastIgnoredError = 0;
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

bool NativeUdpChannel::send(const QByteArray& datagram)
{
    return m_socket.send(datagram) == datagram.size();
}

bool NativeUdpChannel::send(const QByteArray& datagram, const Clock& clock,
                            std::chrono::system_clock::time_point& sentAt)
{
    // Nothing that can wait between the reading and the system call.
    sentAt = clock.now();
    return m_socket.send(datagram) == datagram.size();
}

quint16 NativeUdpChannel::localPort() const
{
    return m_socket.localPort();
}

void NativeUdpChannel::hostLookedUp(quint64 request, const QHostInfo& info)
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

void NativeUdpChannel::openSocket(quint64 request, const QHostAddress& address)
{
    if (request != m_generation)
        return;

    QHostAddress target = address;
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    // An IPv4-mapped IPv6 address would need a dual-stack socket; send to the IPv4 address instead.
    if (isIpv4)
        target = QHostAddress(ipv4);
    const auto family = target.protocol() == QAbstractSocket::IPv6Protocol ? NativeUdpSocket::Family::IPv6
                                                                           : NativeUdpSocket::Family::IPv4;

    int error = 0;
    NativeUdpSocket socket = NativeUdpSocket::bound(family, m_preferredLocalPort, error);
    // The preferred port needs privilege on Linux and may be held by an NTP service (W32Time on
    // Windows); any port will do.
    if (!socket.isValid() && m_preferredLocalPort != 0)
        socket = NativeUdpSocket::bound(family, 0, error);
    if (!socket.isValid()) {
        if (NativeUdpSocket::failsEveryServer(error))
            reportUnusable(request, NativeUdpSocket::errorText(error));
        return;
    }

    // Connected, the system drops datagrams from any other address or port, and reports an ICMP
    // refusal on the next read. A server without a route fails only its own request.
    if (!socket.connectTo(target, m_requestPort != 0 ? m_requestPort : m_remotePort, error)) {
        m_lastIgnoredError = error;
        return;
    }

    m_socket = std::move(socket);
    m_notifier = new QSocketNotifier(m_socket.handle(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NativeUdpChannel::readDatagrams);
    emit ready();
}

void NativeUdpChannel::readDatagrams()
{
    const quint64 request = m_generation;
    QByteArray buffer(MaxDatagramSize, Qt::Uninitialized);
    int failedInARow = 0;
    while (m_socket.isValid() && request == m_generation && failedInARow < MaxFailedReadsInARow) {
        qint64 size = 0;
        ReceiveTime kernelTime;
        int error = 0;
        const NativeUdpSocket::Read read = m_socket.read(buffer, size, kernelTime, error);
        if (read == NativeUdpSocket::Read::Drained)
            break;
        if (read == NativeUdpSocket::Read::Failed) {
            // An ICMP refusal or an unreachable network, queued on the socket by an earlier send:
            // reading has taken it in, and the socket goes on listening for a real reply.
            m_lastIgnoredError = error;
            ++failedInARow;
            continue;
        }
        failedInARow = 0;
        emit datagramArrived(buffer.left(size), kernelTime);
    }
}

void NativeUdpChannel::reportUnusable(quint64 request, const QString& description)
{
    // Reported from the event loop: the receiver may open a modal message, which must not run
    // inside a lookup callback or while this channel is half way through a request.
    QMetaObject::invokeMethod(
        this,
        [this, request, description] {
            if (request == m_generation)
                emit errorOccurred(description);
        },
        Qt::QueuedConnection);
}

void NativeUdpChannel::dropSocket()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // Later, not now: this may run inside the notifier's own signal.
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_socket.close();
}

} // namespace ostrelle
