// Whatever the settings store may hold, loaded as the program loads it and carried through one
// whole poll pass and the wait for the next. The input's lines are the stored texts of the number
// keys and of NtpServer0001, NtpServer0002, ...; the octets after the first NUL say how each
// server of the pass answers. The store is in memory and the names and their number are capped,
// so that no input costs more than a few milliseconds, whatever count it stores.

#include "fuzzcheck.h"

#include "app/monitor.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/servername.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

using namespace ostrelle;

namespace {

// Enough servers for a pass with every kind of answer; a name one line of the INI file could hold
// and a little over the longest usable one.
constexpr qsizetype MaxServers = 12;
constexpr qsizetype MaxNameLength = MaxServerNameLength + 45;
constexpr int RoundTripMs = 20;

const QStringList NumberKeys = {QStringLiteral("SysTimeAdj"), QStringLiteral("NtpPoll"),
                                QStringLiteral("RefTimeHighlight"), QStringLiteral("StratumHighlight"),
                                QStringLiteral("NtpServerCnt")};

QString serverKey(qsizetype index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

// How one server answers, from eight octets of the input.
struct Answer
{
    bool silent;
    int leap;
    int stratum;
    double offsetSeconds;
    double referenceAgeSeconds; // 0: no reference time at all
};

Answer answerFor(const QByteArray& script, qsizetype server)
{
    std::uint8_t c[8] = {};
    for (qsizetype i = 0; i < 8 && !script.isEmpty(); ++i)
        c[i] = static_cast<std::uint8_t>(script[(server * 8 + i) % script.size()]);
    const auto seconds = static_cast<std::int32_t>(std::uint32_t(c[2]) << 24 | std::uint32_t(c[3]) << 16 |
                                                   std::uint32_t(c[4]) << 8 | c[5]);
    return {bool(c[0] & 4), c[0] & 3, c[1], seconds + c[6] / 256.0, c[7] * 30.0};
}

// The server's side: a mode-4 reply to the captured request, received and sent at the server's
// time of the request plus the answer's offset.
QByteArray replyTo(const QByteArray& request, const Answer& answer, double requestSendTime)
{
    NtpWirePacket packet{};
    packet.liVnMode = static_cast<std::uint8_t>(answer.leap << 6 | NtpVersion << 3 | NtpModeServer);
    packet.stratum = static_cast<std::uint8_t>(answer.stratum);
    std::memcpy(packet.originateTime, request.constData() + offsetof(NtpWirePacket, transmitTime), 8);
    const double serverTime = requestSendTime + answer.offsetSeconds + RoundTripMs / 2000.0;
    const auto put = [](std::uint8_t* field, double t) {
        const auto bytes = SecondsToNtpTimestamp(t);
        std::memcpy(field, bytes.data(), bytes.size());
    };
    put(packet.receiveTime, serverTime);
    put(packet.transmitTime, serverTime);
    if (answer.referenceAgeSeconds > 0.0)
        put(packet.referenceTime, serverTime - answer.referenceAgeSeconds);
    return QByteArray(reinterpret_cast<const char*>(&packet), sizeof packet);
}

void checkLoaded(const Settings& s, const QStringList& servers, qsizetype storedNames)
{
    // Every number within what the Options dialog can show.
    OSTRELLE_FUZZ_CHECK(s.pollIntervalSeconds >= PollIntervalMinutes.minimum * 60 &&
                        s.pollIntervalSeconds <= PollIntervalMinutes.maximum * 60);
    OSTRELLE_FUZZ_CHECK(s.referenceAgeLimitSeconds >= ReferenceAgeLimitMinutes.minimum * 60 &&
                        s.referenceAgeLimitSeconds <= ReferenceAgeLimitMinutes.maximum * 60);
    OSTRELLE_FUZZ_CHECK(s.stratumLimit >= StratumLimitRange.minimum &&
                        s.stratumLimit <= StratumLimitRange.maximum);
    OSTRELLE_FUZZ_CHECK(servers.size() <= storedNames);
    for (const QString& name : servers)
        OSTRELLE_FUZZ_CHECK(!name.isEmpty());
}

void checkRoundTrip(const Settings& settings, const QStringList& servers)
{
    MemorySettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    OSTRELLE_FUZZ_CHECK(store.saveSettings(settings, servers));
    const StoredState reloaded = store.loadSettings();
    OSTRELLE_FUZZ_CHECK(reloaded.settings == settings);
    OSTRELLE_FUZZ_CHECK(reloaded.servers == servers);
    OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
}

// One pass over every row: each usable name is asked once and answers or times out; the end of
// the pass may set the clock; the next pass starts exactly the stored interval later.
void runPass(Monitor& monitor, FakeClock& clock, FakeUdpChannel& channel, const QByteArray& script)
{
    PollCycle& cycle = monitor.cycle();
    ServerListModel& servers = monitor.servers();
    const Settings& settings = monitor.settings();
    const qsizetype usable =
        std::count_if(servers.records().cbegin(), servers.records().cend(), [](const ServerRecord& r) {
            return CheckServerName(r.name) == ServerNameCheck::Usable;
        });

    // The clock's time when the pass ends, read before the end of the pass may set it.
    double passEnd = NowNtpSeconds(clock);
    std::optional<double> bestOffset;
    int bestStratum = 0;
    qsizetype asked = 0;
    while (cycle.pollRow() != -1) {
        const int row = cycle.pollRow();
        OSTRELLE_FUZZ_CHECK(cycle.awaitingReply() && channel.sent.size() == asked + 1);
        OSTRELLE_FUZZ_CHECK(channel.sent.last().host == servers.record(row).name);
        const Answer answer = answerFor(script, asked++);
        if (answer.silent) {
            for (int tick = 1; tick < PollCycle::TicksToAnswer; ++tick) {
                cycle.tick();
                OSTRELLE_FUZZ_CHECK(cycle.pollRow() == row);
            }
            cycle.tick();
            OSTRELLE_FUZZ_CHECK(servers.record(row).state == ServerState::TimedOut);
            continue;
        }
        clock.advanceMs(RoundTripMs);
        passEnd = NowNtpSeconds(clock);
        channel.deliver(replyTo(channel.sent.last().datagram, answer, cycle.requestSendTime()));
        const ServerRecord& record = servers.record(row);
        OSTRELLE_FUZZ_CHECK(record.state == ServerState::Answered);
        const ServerReading& reading = record.reading;
        // The stored limits decide which rows are marked.
        OSTRELLE_FUZZ_CHECK(reading.problems.testFlag(ServerProblem::StratumAboveLimit) ==
                            (answer.stratum > settings.stratumLimit));
        if (answer.referenceAgeSeconds > 0.0 && std::abs(answer.offsetSeconds) < 1e6)
            OSTRELLE_FUZZ_CHECK(reading.problems.testFlag(ServerProblem::ReferenceTooOld) ==
                                (reading.referenceAgeSeconds > settings.referenceAgeLimitSeconds));
        if (reading.usableAsSource &&
            (!bestOffset || reading.stratum < bestStratum ||
             (reading.stratum == bestStratum && std::abs(reading.offsetSeconds) < std::abs(*bestOffset)))) {
            bestOffset = reading.offsetSeconds;
            bestStratum = reading.stratum;
        }
    }
    OSTRELLE_FUZZ_CHECK(asked == usable && servers.rowCount() == servers.names().size());

    // Only the end of a pass sets the clock, once, from its best answer, when the operator asked.
    if (!settings.adjustClock || !bestOffset) {
        OSTRELLE_FUZZ_CHECK(clock.setCalls.isEmpty());
    } else if (const auto target = UtcTimeFromNtpSeconds(passEnd + *bestOffset)) {
        OSTRELLE_FUZZ_CHECK(clock.setCalls.size() == 1);
        OSTRELLE_FUZZ_CHECK(std::abs(ToNtpSeconds(clock.setCalls.first()) - (passEnd + *bestOffset)) < 0.002);
    } else {
        // A time the clock cannot hold is never handed to it.
        OSTRELLE_FUZZ_CHECK(clock.setCalls.isEmpty());
    }

    // The stored interval, in ticks, until the next pass asks its first server.
    OSTRELLE_FUZZ_CHECK(cycle.countdown() == settings.pollIntervalSeconds);
    const qsizetype sent = channel.sent.size();
    for (int tick = 1; tick < settings.pollIntervalSeconds; ++tick)
        cycle.tick();
    OSTRELLE_FUZZ_CHECK(channel.sent.size() == sent && cycle.pollRow() == -1);
    cycle.tick();
    OSTRELLE_FUZZ_CHECK(channel.sent.size() == sent + (usable > 0 ? 1 : 0));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray text = nul < 0 ? input : input.left(nul);
    const QByteArray script = nul < 0 ? QByteArray() : input.mid(nul + 1);

    MemorySettingsBackend backend;
    const QList<QByteArray> lines = text.split('\n');
    qsizetype storedNames = 0;
    for (qsizetype i = 0; i < lines.size() && i < NumberKeys.size() + MaxServers; ++i) {
        const QString value = QString::fromUtf8(lines[i]).left(MaxNameLength);
        if (i < NumberKeys.size()) {
            backend.seed(QStringLiteral("Settings"), NumberKeys[i], value);
        } else {
            backend.seed(QStringLiteral("Settings"), serverKey(++storedNames), value);
        }
    }

    FakeClock clock;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
    {
        Monitor monitor(clock, backend, channel, messages);
        monitor.start();
        checkLoaded(monitor.settings(), monitor.servers().names(), storedNames);
        runPass(monitor, clock, channel, script);
        checkRoundTrip(monitor.settings(), monitor.servers().names());
        // A refused clock setting reports through a queued message, at most once a pass.
        QCoreApplication::sendPostedEvents();
    }
    OSTRELLE_FUZZ_CHECK(messages.shown.size() <= 1);
    return 0;
}
