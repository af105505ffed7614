// Datagrams from the network: through the poll cycle exactly as the program receives them, and
// through the reply checks and evaluation directly, with a request and arrival time from the input.

#include "fuzzcheck.h"

#include "ntp/ntpreply.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntptime.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

using namespace ostrelle;

namespace {

// The clock stands still, so every request carries the same transmit stamp and a reply that
// echoes it (as the seed corpus does) answers each server of the pass.
const QDateTime Start(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC);
const QStringList Servers = {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"),
                             QStringLiteral("localhost")};

class ChangeLog final : public ServerTableObserver
{
public:
    struct Change
    {
        int row;
        int firstColumn;
        int lastColumn;
    };

    void rowsAboutToBeInserted(int, int) override { ++rowChanges; }
    void rowsInserted() override {}
    void rowsAboutToBeRemoved(int, int) override { ++rowChanges; }
    void rowsRemoved() override {}
    void cellsChanged(int row, int firstColumn, int lastColumn) override
    {
        changes.push_back({row, firstColumn, lastColumn});
    }
    void currentRowChanged(int) override {}

    std::vector<Change> changes;
    int rowChanges = 0;
};

struct Rig
{
    Rig()
    {
        for (const QString& server : Servers)
            pristine.AddServerRow(server);
        pristine.setRow(0);
    }

    ServerTable pristine;
    ServerTable table;
    Settings settings;
    FakeUdpChannel channel;
    FakeClock clock{Start};
    ScriptedMessageDialog messages;
    PollCycle cycle{table, settings, channel, clock, messages};
    ChangeLog log;
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

void checkEvaluation(const NtpReply& reply, const ReplyEvaluation& result)
{
    OSTRELLE_FUZZ_CHECK(!result.status.isEmpty() && !result.roundTrip.isEmpty() && !result.offset.isEmpty());
    if (result.candidate) {
        OSTRELLE_FUZZ_CHECK(reply.leap == 0 && reply.stratum >= 1 && reply.stratum <= 15);
        OSTRELLE_FUZZ_CHECK(reply.receiveTime != 0.0 && reply.transmitTime != 0.0);
        OSTRELLE_FUZZ_CHECK(std::isfinite(result.offsetSeconds) && std::isfinite(result.roundTripSeconds));
    } else {
        OSTRELLE_FUZZ_CHECK(result.marked);
    }
}

// The datagram as the program's receive path hands it to the poll cycle, over a whole pass.
void throughPollCycle(const QByteArray& datagram)
{
    Rig& r = rig();
    r.table = r.pristine;
    r.clock.setNow(Start);
    r.clock.setCalls.clear();
    r.channel.sent.clear();
    r.channel.connectedHosts.clear();
    r.messages.shown.clear();

    // The poll field (octet 2) means nothing to the reply checks, so it chooses the options.
    const std::uint8_t knobs = datagram.size() > 2 ? static_cast<std::uint8_t>(datagram[2]) : 0;
    r.settings.SysTimeAdj = knobs & 1;
    r.settings.StratumHighlight = static_cast<std::int16_t>((knobs >> 1) & 0x0F);
    r.settings.RefTimeHighlight = 120 + 600 * (knobs >> 5);

    r.cycle.tableCleared();
    r.cycle.setBestStratum(-1);
    r.cycle.setPollCountdown(0);
    r.table.setObserver(&r.log);
    r.cycle.TimerTimeout_Timer();
    OSTRELLE_FUZZ_CHECK(r.cycle.PollRow() == 1 && r.channel.sent.size() == 1);

    for (int step = 0; step < Servers.size(); ++step) {
        const int row = r.cycle.PollRow();
        const bool accepted = ParseNtpReply(datagram, r.cycle.NtpRequest()).accepted();
        r.log.changes.clear();
        r.channel.deliver(datagram);

        for (const ChangeLog::Change& change : r.log.changes) {
            OSTRELLE_FUZZ_CHECK(change.firstColumn >= 0 && change.firstColumn <= change.lastColumn &&
                                change.lastColumn < ServerTable::ColumnCount);
            // Besides the answered row, only the next one changes: it is now being polled.
            if (change.row != row) {
                OSTRELLE_FUZZ_CHECK(accepted && change.row == row + 1);
                OSTRELLE_FUZZ_CHECK(change.firstColumn == ServerTable::ColStatus &&
                                    change.lastColumn == ServerTable::ColStatus);
                OSTRELLE_FUZZ_CHECK(r.table.TextMatrix(change.row, ServerTable::ColStatus) ==
                                    QStringLiteral("Polling"));
            }
        }
        if (!accepted) {
            // A refused datagram leaves the step waiting for the real answer, and the row alone.
            OSTRELLE_FUZZ_CHECK(r.log.changes.empty());
            OSTRELLE_FUZZ_CHECK(r.cycle.PollRow() == row && r.cycle.awaitingReply());
            break;
        }
        OSTRELLE_FUZZ_CHECK(r.cycle.PollRow() == (row + 1) % (Servers.size() + 1));
    }

    OSTRELLE_FUZZ_CHECK(r.log.rowChanges == 0 && r.table.Rows() == Servers.size() + 1);
    for (int row = 1; row <= Servers.size(); ++row)
        OSTRELLE_FUZZ_CHECK(r.table.TextMatrix(row, ServerTable::ColServer) == Servers[row - 1]);
    // Only the end of a pass may set the clock, once, and only when the operator asked for it.
    const bool passEnded = r.cycle.PollRow() == 0;
    if (r.settings.SysTimeAdj == 0 || !passEnded)
        OSTRELLE_FUZZ_CHECK(r.clock.setCalls.isEmpty());
    OSTRELLE_FUZZ_CHECK(r.clock.setCalls.size() <= 1);
    if (passEnded && r.cycle.LabelSync() != QStringLiteral("None"))
        OSTRELLE_FUZZ_CHECK(Servers.contains(r.cycle.LabelSync()) && r.clock.setCalls.size() == 1);

    r.table.setObserver(nullptr);
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

    NtpPacketBytes unrelated{};
    const ParsedReply toZero = ParseNtpReply(datagram, unrelated);
    if (size < NtpPacketSize) {
        OSTRELLE_FUZZ_CHECK(toZero.check == ReplyCheck::TooShort);
        return;
    }

    NtpPacketBytes request{};
    std::memcpy(request.data() + offsetof(NtpWirePacket, transmitTime),
                bytes + offsetof(NtpWirePacket, originateTime), 8);
    const ParsedReply parsed = ParseNtpReply(datagram, request);
    const bool serverMode = (bytes[0] & 0x07) == NtpModeServer;
    OSTRELLE_FUZZ_CHECK(parsed.accepted() == serverMode);
    if (!parsed.accepted())
        return;

    const NtpReply& reply = parsed.reply;
    OSTRELLE_FUZZ_CHECK(reply.leap >= 0 && reply.leap <= 3 && reply.version >= 0 && reply.version <= 7);
    OSTRELLE_FUZZ_CHECK(reply.stratum >= 0 && reply.stratum <= 255);
    for (const double t : {reply.referenceTime, reply.originateTime, reply.receiveTime, reply.transmitTime})
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
    settings.StratumHighlight = static_cast<std::int16_t>(bytes[2] & 0x0F);
    checkEvaluation(reply, EvaluateNtpReply(reply, T4, requestSendTime, settings));
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
