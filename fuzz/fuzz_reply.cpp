// Datagrams from the network: through the poll cycle exactly as the program receives them, and
// through the reply checks and evaluation directly, with a request and arrival time from the input.

#include "app/monitor.h"
#include "fuzzcheck.h"

#include "ntp/ntpreply.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/serverlistmodel.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntptime.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

using namespace ostrelle;

namespace {

// The clock stands still. Each request carries a fresh random nonce, which no input can know: a
// datagram with a non-zero originate has the nonce put in its place, so that it answers each
// server of the pass; a zero originate stays zero and must be refused.
const QDateTime Start(QDate(2006, 3, 10), QTime(15, 13, 22, 125), QTimeZone::utc());
const QStringList Servers = {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"),
                             QStringLiteral("localhost")};

struct Change
{
    int row;
    int firstColumn;
    int lastColumn;
};

struct Rig
{
    Rig()
    {
        QObject::connect(&servers, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& from, const QModelIndex& to) {
                             OSTRELLE_FUZZ_CHECK(from.row() == to.row());
                             changes.push_back({from.row(), from.column(), to.column()});
                         });
        QObject::connect(&servers, &QAbstractItemModel::rowsInserted, [this] { ++rowChanges; });
        QObject::connect(&servers, &QAbstractItemModel::rowsRemoved, [this] { ++rowChanges; });
    }

    ServerListModel servers;
    Settings settings;
    FakeUdpChannel channel;
    FakeClock clock{Start};
    ScriptedMessageDialog messages;
    PollCycle cycle{channel, clock, messages};
    // Last, so that the table and the cycle exist when they are linked.
    bool linked = (LinkServerTable(servers, cycle), true);
    std::vector<Change> changes;
    int rowChanges = 0;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

double timestampAt(const std::uint8_t* bytes)
{
    return NtpTimestampToSeconds(std::span<const std::uint8_t, 8>(bytes, 8));
}

void checkEvaluation(const NtpReply& reply, const ServerReading& result)
{
    if (result.usableAsSource) {
        OSTRELLE_FUZZ_CHECK(reply.leap == 0 && reply.stratum >= 1 && reply.stratum <= 15);
        OSTRELLE_FUZZ_CHECK(reply.receiveTime != 0.0 && reply.transmitTime != 0.0);
        OSTRELLE_FUZZ_CHECK(std::isfinite(result.offsetSeconds) && std::isfinite(result.roundTripSeconds));
    } else {
        OSTRELLE_FUZZ_CHECK(result.problems != ServerProblems());
    }
}

// The datagram with our request's nonce as its originate, unless it left the originate zero.
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

// The datagram as the program's receive path hands it to the poll cycle, over a whole pass.
void throughPollCycle(const QByteArray& received)
{
    Rig& r = rig();
    r.servers.clear();
    r.servers.addServers(Servers);
    r.clock.setNow(Start);
    r.clock.setCalls.clear();
    r.channel.sent.clear();
    r.channel.connectedHosts.clear();
    r.messages.shown.clear();

    // The poll field (octet 2) means nothing to the reply checks, so it chooses the options.
    const std::uint8_t knobs = received.size() > 2 ? static_cast<std::uint8_t>(received[2]) : 0;
    r.settings.adjustClock = knobs & 1;
    r.settings.stratumLimit = (knobs >> 1) & 0x0F;
    r.settings.referenceAgeLimitSeconds = 120 + 600 * (knobs >> 5);
    r.cycle.setSettings(r.settings);

    r.rowChanges = 0;
    r.cycle.start();
    OSTRELLE_FUZZ_CHECK(r.cycle.pollRow() == 0 && r.channel.sent.size() == 1);

    for (int step = 0; step < Servers.size(); ++step) {
        const int row = r.cycle.pollRow();
        const QByteArray datagram = answering(received, r.cycle.requestNonce());
        const bool accepted = ParseNtpReply(datagram, r.cycle.requestNonce()).accepted();
        r.changes.clear();
        r.channel.deliver(datagram);

        for (const Change& change : r.changes) {
            OSTRELLE_FUZZ_CHECK(change.firstColumn >= 0 && change.firstColumn <= change.lastColumn &&
                                change.lastColumn < int(ServerColumn::Count));
            // Besides the answered row, only the next one changes: it is now being polled.
            if (change.row != row) {
                OSTRELLE_FUZZ_CHECK(accepted && change.row == row + 1);
                OSTRELLE_FUZZ_CHECK(change.firstColumn == int(ServerColumn::Status) &&
                                    change.lastColumn == int(ServerColumn::Status));
                OSTRELLE_FUZZ_CHECK(r.servers.record(change.row).state == ServerState::Polling);
            }
        }
        if (!accepted) {
            // A refused datagram leaves the step waiting for the real answer, and the row alone.
            OSTRELLE_FUZZ_CHECK(r.changes.empty());
            OSTRELLE_FUZZ_CHECK(r.cycle.pollRow() == row && r.cycle.awaitingReply());
            break;
        }
        OSTRELLE_FUZZ_CHECK(r.cycle.pollRow() == (row + 2) % (Servers.size() + 1) - 1);
    }

    OSTRELLE_FUZZ_CHECK(r.rowChanges == 0 && r.servers.names() == Servers);
    // Only the end of a pass may set the clock, once, and only when the operator asked for it.
    const bool passEnded = r.cycle.pollRow() == -1;
    if (!r.settings.adjustClock || !passEnded)
        OSTRELLE_FUZZ_CHECK(r.clock.setCalls.isEmpty());
    OSTRELLE_FUZZ_CHECK(r.clock.setCalls.size() <= 1);
    if (passEnded && r.cycle.synchronisedToText() != QStringLiteral("None"))
        OSTRELLE_FUZZ_CHECK(Servers.contains(r.cycle.synchronisedToText()) && r.clock.setCalls.size() == 1);

    // A refused clock setting reports through a queued message.
    QCoreApplication::sendPostedEvents();
    r.messages.shown.clear();
}

// The reply functions on their own: a request that the datagram answers (its originate echoed as
// our transmit) and an arrival time, both from the octets after the 48-octet header.
void throughReplyFunctions(const QByteArray& datagram)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(datagram.constData());
    const auto size = static_cast<std::size_t>(datagram.size());

    const ParsedReply toZero = ParseNtpReply(datagram, NtpTimestampBytes{});
    if (size < NtpPacketSize) {
        OSTRELLE_FUZZ_CHECK(toZero.check == ReplyCheck::TooShort);
        return;
    }
    // A zero originate answers nothing we send.
    OSTRELLE_FUZZ_CHECK(!toZero.accepted());

    NtpTimestampBytes nonce{};
    std::memcpy(nonce.data(), bytes + offsetof(NtpWirePacket, originateTime), nonce.size());
    const ParsedReply parsed = ParseNtpReply(datagram, nonce);
    const bool serverMode = (bytes[0] & 0x07) == NtpModeServer;
    OSTRELLE_FUZZ_CHECK(parsed.accepted() == (serverMode && nonce != NtpTimestampBytes{}));
    if (!parsed.accepted())
        return;

    const NtpReply& reply = parsed.reply;
    OSTRELLE_FUZZ_CHECK(reply.leap >= 0 && reply.leap <= 3 && reply.version >= 0 && reply.version <= 7);
    OSTRELLE_FUZZ_CHECK(reply.stratum >= 0 && reply.stratum <= 255);
    for (const double t : {reply.referenceTime, reply.receiveTime, reply.transmitTime})
        // Not "< NtpEraLength": the last 2^-21 s of the era rounds up to 2^32 in a double.
        OSTRELLE_FUZZ_CHECK(t >= 0.0 && t <= NtpEraLength);

    // An arrival time anywhere in the first two eras, and a send time up to a minute before it,
    // as a clock the program reads could give them.
    double T4 = Start.toSecsSinceEpoch() + 2208988800.0;
    double requestSendTime = T4;
    if (size >= NtpPacketSize + 8) {
        T4 = timestampAt(bytes + NtpPacketSize);
        if (size > NtpPacketSize + 8 && (bytes[NtpPacketSize + 8] & 1))
            T4 += NtpEraLength;
        requestSendTime = T4;
        if (size >= NtpPacketSize + 11)
            requestSendTime -= ((bytes[NtpPacketSize + 9] << 8) | bytes[NtpPacketSize + 10]) / 1000.0;
    }
    Settings settings;
    settings.stratumLimit = bytes[2] & 0x0F;
    checkEvaluation(reply, EvaluateNtpReply(reply, requestSendTime, T4, settings));
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
    // Raw, so that a read past the datagram hits the fuzzer's own exactly sized buffer.
    const QByteArray datagram =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    throughPollCycle(datagram);
    throughReplyFunctions(datagram);
    return 0;
}
