#include "platform/nativeudpsocket.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrelle {

qintptr NativeUdpSocket::openHandle(Family family, int& error)
{
    const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
    const int fd = ::socket(domain, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        error = errno;
        return InvalidHandle;
    }
    if (family == Family::IPv6) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return fd;
}

int NativeUdpSocket::lastError()
{
    return errno;
}

void NativeUdpSocket::closeHandle(qintptr handle)
{
    ::close(static_cast<int>(handle));
}

bool NativeUdpSocket::askForArrivalStamps(qintptr handle)
{
    const int on = 1;
    return ::setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

qint64 NativeUdpSocket::send(const QByteArray& datagram)
{
    if (!isValid())
        return -1;
    return ::send(static_cast<int>(m_handle), datagram.constData(), static_cast<std::size_t>(datagram.size()),
                  0);
}

NativeUdpSocket::Read NativeUdpSocket::read(QByteArray& buffer, qint64& size, ReceiveTime& arrival,
                                            int& error)
{
    arrival.reset();
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) * 2];
    iovec part{buffer.data(), static_cast<std::size_t>(buffer.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = -1;
    do {
        received = ::recvmsg(static_cast<int>(m_handle), &message, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Read::Drained;
        error = errno;
        return Read::Failed;
    }

    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            arrival = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        }
    }
    size = received;
    return Read::Datagram;
}

bool NativeUdpSocket::failsEveryServer(int error)
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

bool NativeUdpSocket::isPortUnreachable(int error)
{
    return error == ECONNREFUSED;
}

QString NativeUdpSocket::errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace ostrelle
