#include "platform/nativeudpchannel.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrelle {

namespace {

// Larger than any UDP payload, so that a read never cuts a datagram short.
constexpr std::size_t MaxDatagramSize = 65536;

// Neither the preferred nor a system-chosen port could be had: does that rule out every server?
bool noSocketCanBeMade(int error)
{
    switch (error) {
    // The machine lacks this server's address family (an IPv6 server without IPv6): only it is lost.
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
    case EADDRNOTAVAIL:
        return false;
    // Out of descriptors or memory, or sockets forbidden altogether: no server can be polled now.
    default:
        return true;
    }
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The socket address of address:port, as the system calls take it.
socklen_t socketAddress(const QHostAddress& address, quint16 port, sockaddr_storage& storage)
{
    std::memset(&storage, 0, sizeof storage);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof in6->sin6_addr);
        in6->sin6_scope_id = address.scopeId().toUInt();
        return sizeof(sockaddr_in6);
    }
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof(sockaddr_in);
}

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
    if (m_fd < 0)
        return false;
    const ssize_t sent = ::send(m_fd, datagram.constData(), static_cast<std::size_t>(datagram.size()), 0);
    return sent == datagram.size();
}

bool NativeUdpChannel::send(const QByteArray& datagram, const Clock& clock,
                            std::chrono::system_clock::time_point& sentAt)
{
    if (m_fd < 0) {
        sentAt = clock.now();
        return false;
    }
    // Nothing that can wait between the reading and the system call.
    sentAt = clock.now();
    const ssize_t sent = ::send(m_fd, datagram.constData(), static_cast<std::size_t>(datagram.size()), 0);
    return sent == datagram.size();
}

quint16 NativeUdpChannel::localPort() const
{
    if (m_fd < 0)
        return 0;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
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
    const int family = target.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;

    int error = 0;
    int fd = boundSocket(family, m_preferredLocalPort, error);
    // The preferred port needs privilege and may be held by an NTP daemon; any port will do.
    if (fd < 0 && m_preferredLocalPort != 0)
        fd = boundSocket(family, 0, error);
    if (fd < 0) {
        if (noSocketCanBeMade(error))
            reportUnusable(request, errorText(error));
        return;
    }

    // Connected, the system drops datagrams from any other address or port, and reports an ICMP
    // refusal on the next read. A server without a route fails only its own request.
    sockaddr_storage remote;
    const socklen_t length = socketAddress(target, m_requestPort != 0 ? m_requestPort : m_remotePort, remote);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), length) != 0) {
        m_lastIgnoredError = errno;
        ::close(fd);
        return;
    }

    m_fd = fd;
    m_notifier = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NativeUdpChannel::readDatagrams);
    emit ready();
}

int NativeUdpChannel::boundSocket(int family, quint16 port, int& error)
{
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const int on = 1;
    // Without it the reply is timed when the event loop reads it; a busy window would skew the offset.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);

    sockaddr_storage local{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_any;
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&local);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(INADDR_ANY);
        length = sizeof(sockaddr_in);
    }
    // Never SO_REUSEADDR: a second socket on port 123 would take replies meant for an NTP daemon.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

void NativeUdpChannel::readDatagrams()
{
    const quint64 request = m_generation;
    QByteArray buffer(MaxDatagramSize, Qt::Uninitialized);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) * 2];
    while (m_fd >= 0 && request == m_generation) {
        iovec part{buffer.data(), static_cast<std::size_t>(buffer.size())};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            // An ICMP refusal or an unreachable network, queued on the socket by an earlier send:
            // reading has taken it in, and the socket goes on listening for a real reply.
            m_lastIgnoredError = errno;
            continue;
        }

        ReceiveTime kernelTime;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
                kernelTime = std::chrono::system_clock::time_point(
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
            }
        }
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
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace ostrelle
