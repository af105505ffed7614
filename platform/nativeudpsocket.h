#pragma once

#include "platform/udpchannel.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace ostrelle {

// One UDP socket of the operating system's own, with the few calls NativeUdpChannel makes on it:
// POSIX sockets in nativeudpsocket_posix.cpp, Winsock in nativeudpsocket_win.cpp, so that the
// channel's logic is written once. Error numbers are the platform's own (errno, WSAGetLastError()).
class NativeUdpSocket
{
public:
    enum class Family { IPv4, IPv6 };
    enum class Read {
        Datagram, // one datagram was read
        Drained,  // nothing more is waiting
        Failed,   // the read reported an error (an ICMP refusal, say); the next read may succeed
    };

    NativeUdpSocket() = default;
    ~NativeUdpSocket();
    NativeUdpSocket(NativeUdpSocket&& other) noexcept;
    NativeUdpSocket& operator=(NativeUdpSocket&& other) noexcept;
    NativeUdpSocket(const NativeUdpSocket&) = delete;
    NativeUdpSocket& operator=(const NativeUdpSocket&) = delete;

    // A non-blocking socket bound to port (0: the system's choice) on every local address of the
    // family, which the system is asked to stamp with each datagram's arrival where it can. Never
    // shares the port: a second socket on 123 would take replies meant for an NTP daemon. Invalid,
    // with error set, when it cannot be made.
    static NativeUdpSocket bound(Family family, quint16 port, int& error);

    bool isValid() const { return m_handle != InvalidHandle; }
    qintptr handle() const { return m_handle; }
    // Whether the system stamps each datagram with the time it arrived.
    bool stampsArrivals() const { return m_stampsArrivals; }

    // Connected, the system drops datagrams from any other address or port.
    [[nodiscard]] bool connectTo(const QHostAddress& address, quint16 port, int& error);
    // The octets handed to the system; -1 when it refused them.
    qint64 send(const QByteArray& datagram);
    // 0 when there is no socket or the system does not say.
    quint16 localPort() const;
    // Reads the next datagram into the front of buffer (which must be large enough for any
    // datagram), its length into size and its arrival, as the system stamped it, into arrival
    // (empty where the system did not stamp it).
    Read read(QByteArray& buffer, qint64& size, ReceiveTime& arrival, int& error);
    void close();

    // A socket could not be made for this reason: does that rule out every server (out of
    // descriptors or memory, sockets forbidden), not only this server's address family?
    static bool failsEveryServer(int error);
    // Whether error is how this platform reports an ICMP "port unreachable" on a connected socket.
    static bool isPortUnreachable(int error);
    static QString errorText(int error);

private:
    static constexpr qintptr InvalidHandle = -1;

    static qintptr openHandle(Family family, int& error);
    static int lastError();
    static void closeHandle(qintptr handle);
    static bool askForArrivalStamps(qintptr handle);

    qintptr m_handle = InvalidHandle;
    bool m_stampsArrivals = false;
};

} // namespace ostrelle
