#include "platform/nativeudpsocket.h"

#include <cstring>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace ostrelle {

namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
using SocketLength = int;
#else
using SocketHandle = int;
using SocketLength = socklen_t;
#endif

SocketHandle native(qintptr handle)
{
    return static_cast<SocketHandle>(handle);
}

// The socket address of address:port, as the system calls take it.
SocketLength socketAddress(const QHostAddress& address, quint16 port, sockaddr_storage& storage)
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

NativeUdpSocket::~NativeUdpSocket()
{
    close();
}

NativeUdpSocket::NativeUdpSocket(NativeUdpSocket&& other) noexcept
    : m_handle(std::exchange(other.m_handle, InvalidHandle)),
      m_stampsArrivals(std::exchange(other.m_stampsArrivals, false))
{
}

NativeUdpSocket& NativeUdpSocket::operator=(NativeUdpSocket&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, InvalidHandle);
        m_stampsArrivals = std::exchange(other.m_stampsArrivals, false);
    }
    return *this;
}

void NativeUdpSocket::close()
{
    if (m_handle != InvalidHandle)
        closeHandle(m_handle);
    m_handle = InvalidHandle;
    m_stampsArrivals = false;
}

NativeUdpSocket NativeUdpSocket::bound(Family family, quint16 port, int& error)
{
    NativeUdpSocket socket;
    socket.m_handle = openHandle(family, error);
    if (!socket.isValid())
        return socket;
    // Without stamps the reply is timed when the event loop reads it; a busy window would skew the
    // offset.
    socket.m_stampsArrivals = askForArrivalStamps(socket.m_handle);

    const QHostAddress any(family == Family::IPv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4);
    sockaddr_storage local;
    const SocketLength length = socketAddress(any, port, local);
    if (::bind(native(socket.m_handle), reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        error = lastError();
        socket.close();
    }
    return socket;
}

bool NativeUdpSocket::connectTo(const QHostAddress& address, quint16 port, int& error)
{
    sockaddr_storage remote;
    const SocketLength length = socketAddress(address, port, remote);
    if (::connect(native(m_handle), reinterpret_cast<const sockaddr*>(&remote), length) == 0)
        return true;
    error = lastError();
    return false;
}

quint16 NativeUdpSocket::localPort() const
{
    if (!isValid())
        return 0;
    sockaddr_storage local{};
    SocketLength length = sizeof local;
    if (::getsockname(native(m_handle), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

} // namespace ostrelle
