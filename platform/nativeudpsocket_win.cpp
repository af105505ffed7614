#include "platform/nativeudpsocket.h"

// Winsock before windows.h, which winsupport.h brings in.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>

#include "platform/winsupport.h"

#include <cstring>

namespace ostrelle {

namespace {

// From mstcpip.h of Windows 10 2004 and later, which older headers lack: receive stamps, taken by
// the network stack from the performance counter.
constexpr DWORD TimestampingIoctl = _WSAIOW(IOC_VENDOR, 235);
constexpr ULONG TimestampingReceive = 0x1;
constexpr int TimestampMessage = 0x300A; // SO_TIMESTAMP
struct TimestampingConfig
{
    ULONG flags;
    USHORT transmitStampsBuffered;
};

// Winsock must be started once per process before the first socket; it is left running.
bool winsockStarted()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// WSARecvMsg, the only call that hands over the stamps, is reached through the socket provider.
LPFN_WSARECVMSG receiveMessageFunction(SOCKET socket)
{
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD returned = 0;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                   &returned, nullptr, nullptr) != 0)
        return nullptr;
    return function;
}

// The stamp is a reading of the performance counter; the time of day it stands for is the clock's
// reading now less the counter's advance since. Both are read back to back.
std::chrono::system_clock::time_point arrivalTime(UINT64 stamp)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    FILETIME now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    ::GetSystemTimePreciseAsFileTime(&now);
    const long long ticks = counter.QuadPart - static_cast<long long>(stamp);
    const long long perSecond = frequency.QuadPart;
    const std::chrono::nanoseconds age((ticks / perSecond) * 1'000'000'000LL +
                                       (ticks % perSecond) * 1'000'000'000LL / perSecond);
    return FromFileTime(now) - std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
}

} // namespace

qintptr NativeUdpSocket::openHandle(Family family, int& error)
{
    if (!winsockStarted()) {
        error = WSASYSNOTREADY;
        return InvalidHandle;
    }
    const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
    const SOCKET socket = ::WSASocketW(domain, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return InvalidHandle;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    const DWORD on = 1;
    if (family == Family::IPv6)
        ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
    // Windows lets a later socket that asks for SO_REUSEADDR bind over ours and take the replies;
    // an exclusive port cannot be taken.
    ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<qintptr>(socket);
}

int NativeUdpSocket::lastError()
{
    return ::WSAGetLastError();
}

void NativeUdpSocket::closeHandle(qintptr handle)
{
    ::closesocket(static_cast<SOCKET>(handle));
}

bool NativeUdpSocket::askForArrivalStamps(qintptr handle)
{
    const SOCKET socket = static_cast<SOCKET>(handle);
    // Older Windows, and Wine, refuse the request; the reply is then timed when it is read.
    TimestampingConfig config{TimestampingReceive, 0};
    DWORD returned = 0;
    if (::WSAIoctl(socket, TimestampingIoctl, &config, sizeof config, nullptr, 0, &returned, nullptr,
                   nullptr) != 0)
        return false;
    return receiveMessageFunction(socket) != nullptr;
}

qint64 NativeUdpSocket::send(const QByteArray& datagram)
{
    if (!isValid())
        return -1;
    const int sent = ::send(static_cast<SOCKET>(m_handle), datagram.constData(), int(datagram.size()), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

NativeUdpSocket::Read NativeUdpSocket::read(QByteArray& buffer, qint64& size, ReceiveTime& arrival,
                                            int& error)
{
    arrival.reset();
    const SOCKET socket = static_cast<SOCKET>(m_handle);
    DWORD received = 0;
    bool failed = false;
    UINT64 stamp = 0;
    bool stamped = false;
    if (m_stampsArrivals) {
        static const LPFN_WSARECVMSG receiveMessage = receiveMessageFunction(socket);
        WSABUF part{static_cast<ULONG>(buffer.size()), buffer.data()};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(UINT64)) * 2];
        WSAMSG message{};
        message.lpBuffers = &part;
        message.dwBufferCount = 1;
        message.Control = WSABUF{sizeof control, control};
        failed = !receiveMessage || receiveMessage(socket, &message, &received, nullptr, nullptr) != 0;
        if (!failed) {
            for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header;
                 header = WSA_CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == TimestampMessage) {
                    std::memcpy(&stamp, WSA_CMSG_DATA(header), sizeof stamp);
                    stamped = true;
                }
            }
        }
    } else {
        const int result = ::recv(socket, buffer.data(), int(buffer.size()), 0);
        failed = result == SOCKET_ERROR;
        received = failed ? 0 : DWORD(result);
    }
    if (failed) {
        const int code = ::WSAGetLastError();
        if (code == WSAEWOULDBLOCK)
            return Read::Drained;
        error = code;
        return Read::Failed;
    }
    if (stamped)
        arrival = arrivalTime(stamp);
    size = received;
    return Read::Datagram;
}

bool NativeUdpSocket::failsEveryServer(int error)
{
    switch (error) {
    // The machine lacks this server's address family (an IPv6 server without IPv6): only it is lost.
    case WSAEAFNOSUPPORT:
    case WSAEPFNOSUPPORT:
    case WSAEPROTONOSUPPORT:
    case WSAEADDRNOTAVAIL:
        return false;
    // Out of sockets or buffers, or the network stack down: no server can be polled now.
    default:
        return true;
    }
}

bool NativeUdpSocket::isPortUnreachable(int error)
{
    // Windows reports the ICMP refusal on a connected UDP socket as a reset.
    return error == WSAECONNRESET || error == WSAECONNREFUSED;
}

QString NativeUdpSocket::errorText(int error)
{
    return SystemErrorText(static_cast<DWORD>(error));
}

} // namespace ostrelle
