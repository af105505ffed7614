// The program's real receive path: the poll cycle on the real channel, polling a loopback peer
// that answers its request with the input. The input is cut at each "\n--\n" into up to four
// datagrams, sent back to back, so that several wait on the socket when the channel reads; a
// datagram of 48 octets or more carries the request's nonce as its originate unless its own is
// zero. The peer's socket lives for the whole run, and the channel's socket until a datagram is
// accepted, as a real server's answer would end the step.

#include "app/monitor.h"
#include "fuzzcheck.h"

#include "ntp/ntpreply.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverlistmodel.h"
#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ostrelle;

namespace {

constexpr qsizetype MaxDatagrams = 4;
constexpr qsizetype MaxUdpPayload = 65507;
const QByteArray Separator = QByteArrayLiteral("\n--\n");

// A UDP socket on 127.0.0.1 and a port of the system's choosing: the server being polled.
class LoopbackPeer
{
public:
    LoopbackPeer()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        OSTRELLE_FUZZ_CHECK(m_fd >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        OSTRELLE_FUZZ_CHECK(::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
        socklen_t length = sizeof address;
        OSTRELLE_FUZZ_CHECK(::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        m_port = ntohs(address.sin_port);
        // The request waits in the queue; a short wait only guards against a lost one.
        timeval wait{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~LoopbackPeer() { ::close(m_fd); }

    quint16 port() const { return m_port; }

    // The channel's request, and where it came from.
    QByteArray receive(sockaddr_in& from)
    {
        QByteArray buffer(2048, Qt::Uninitialized);
        socklen_t length = sizeof from;
        const ssize_t size = ::recvfrom(m_fd, buffer.data(), std::size_t(buffer.size()), 0,
                                        reinterpret_cast<sockaddr*>(&from), &length);
        OSTRELLE_FUZZ_CHECK(size >= 0);
        buffer.truncate(size);
        return buffer;
    }

    void send(const QByteArray& datagram, const sockaddr_in& to)
    {
        const ssize_t sent = ::sendto(m_fd, datagram.constData(), std::size_t(datagram.size()), 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
        OSTRELLE_FUZZ_CHECK(sent == datagram.size());
    }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

struct Rig
{
    Rig()
    {
        servers.addServer(QStringLiteral("127.0.0.1"));
        QObject::connect(&channel, &UdpChannel::datagramArrived,
                         [this](const QByteArray& datagram, const ReceiveTime& kernelTime) {
                             arrived.append(datagram);
                             OSTRELLE_FUZZ_CHECK(kernelTime.has_value());
                         });
    }

    // A step waiting for its answer, its request taken in by the peer.
    void awaitReply()
    {
        if (cycle.awaitingReply())
            return;
        if (cycle.pollRow() == -1)
            cycle.pollNextServer();
        // The channel opens its socket from the event loop and sends at once.
        for (int i = 0; i < 100 && !requestSeen(); ++i)
            QCoreApplication::processEvents();
        OSTRELLE_FUZZ_CHECK(cycle.awaitingReply());
    }

    bool requestSeen()
    {
        if (channel.localPort() == 0)
            return false;
        const QByteArray request = peer.receive(channelAddress);
        OSTRELLE_FUZZ_CHECK(request.size() == qsizetype(NtpPacketSize));
        OSTRELLE_FUZZ_CHECK(ntohs(channelAddress.sin_port) == channel.localPort());
        return true;
    }

    LoopbackPeer peer;
    ServerListModel servers;
    NativeUdpChannel channel{peer.port(), 0};
    FakeClock clock{QDateTime::currentDateTimeUtc()};
    ScriptedMessageDialog messages;
    PollCycle cycle{channel, clock, messages};
    // Last, so that the table and the cycle exist when they are linked.
    bool linked = (LinkServerTable(servers, cycle), true);
    sockaddr_in channelAddress{};
    QList<QByteArray> arrived;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

QByteArray answering(const QByteArray& datagram, const NtpTimestampBytes& nonce)
{
    constexpr auto at = offsetof(NtpWirePacket, originateTime);
    if (static_cast<std::size_t>(datagram.size()) < NtpPacketSize ||
        datagram.mid(at, 8) == QByteArray(8, '\0'))
        return datagram;
    QByteArray patched = datagram;
    std::memcpy(patched.data() + at, nonce.data(), nonce.size());
    return patched;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    rig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Rig& r = rig();
    r.awaitReply();
    const quint16 socketPort = r.channel.localPort();
    const NtpTimestampBytes nonce = r.cycle.requestNonce();

    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QByteArray> datagrams;
    for (qsizetype from = 0; datagrams.size() < MaxDatagrams;) {
        const qsizetype cut = datagrams.size() + 1 < MaxDatagrams ? input.indexOf(Separator, from) : -1;
        datagrams.append(answering(input.mid(from, cut < 0 ? -1 : cut - from).left(MaxUdpPayload), nonce));
        if (cut < 0)
            break;
        from = cut + Separator.size();
    }
    for (const QByteArray& datagram : std::as_const(datagrams))
        r.peer.send(datagram, r.channelAddress);

    r.arrived.clear();
    QCoreApplication::processEvents();

    // Every datagram arrives whole and in order, up to and including the first one accepted; the
    // ones behind it belong to a step that has ended and are never read.
    qsizetype expected = datagrams.size();
    for (qsizetype i = 0; i < datagrams.size(); ++i) {
        if (ParseNtpReply(datagrams[i], nonce).accepted()) {
            expected = i + 1;
            break;
        }
    }
    OSTRELLE_FUZZ_CHECK(r.arrived.size() == expected);
    for (qsizetype i = 0; i < expected; ++i)
        OSTRELLE_FUZZ_CHECK(r.arrived[i] == datagrams[i]);

    const bool accepted = expected < datagrams.size() || ParseNtpReply(datagrams.last(), nonce).accepted();
    if (accepted) {
        OSTRELLE_FUZZ_CHECK(r.servers.record(0).state == ServerState::Answered);
        OSTRELLE_FUZZ_CHECK(!r.cycle.awaitingReply() && r.channel.localPort() == 0);
    } else {
        OSTRELLE_FUZZ_CHECK(r.cycle.awaitingReply() && r.channel.localPort() == socketPort);
    }
    // Without an event loop running, the dropped socket's notifier is deleted only when asked.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    OSTRELLE_FUZZ_CHECK(r.messages.shown.isEmpty());
    return 0;
}
