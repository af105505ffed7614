// Drives the plain poll cycle with a fake clock and a fake channel through many poll steps over
// many servers with mixed answers, printing the resident memory as it goes. Meant to be run under
// valgrind or LeakSanitizer as well. Prints, never asserts.
//
//   bench_soak [--steps 1000000] [--servers 10000] [--seed 1] [--report 100000]

#include "app/monitor.h"
#include "bench/benchsupport.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/serverlistmodel.h"
#include "servers/settingsstore.h"
#include "tests/support/ntpresponder.h"
#include "timekeeping/ntptime.h"

#include <QCoreApplication>
#include <cstdio>
#include <random>

using namespace ostrelle;

namespace {

long long argument(const QStringList& args, const QString& name, long long fallback, long long low,
                   long long high)
{
    const auto at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.size())
        return fallback;
    bool ok = false;
    const long long value = args[at + 1].toLongLong(&ok);
    return ok ? std::clamp(value, low, high) : fallback;
}

QString serverName(long long n)
{
    return QStringLiteral("soak%1.invalid").arg(n);
}

struct Tally
{
    long long good = 0, kod = 0, unsynchronised = 0, garbage = 0, duplicate = 0, stale = 0, silence = 0,
              removals = 0, passes = 0, ticks = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const long long steps = argument(args, QStringLiteral("--steps"), 1000000, 1, 100000000);
    const int servers = static_cast<int>(argument(args, QStringLiteral("--servers"), 10000, 1, 1000000));
    const auto seed = static_cast<std::uint32_t>(argument(args, QStringLiteral("--seed"), 1, 0, 0xffffffff));
    const long long report = argument(args, QStringLiteral("--report"), std::max(1LL, steps / 10), 1, steps);

    std::printf("Soak: %lld poll steps over %d servers, seed %u (%s)\n", steps, servers, seed,
                qPrintable(LoadText()));
    const long rssBefore = ResidentKiB();

    ServerListModel table;
    long long names = 0;
    for (; names < servers; ++names)
        table.addServer(serverName(names));
    Settings settings;
    // The fake clock takes the setting: the end of each pass goes all the way through.
    settings.adjustClock = true;
    FakeClock clock;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
    PollCycle cycle(channel, clock, messages);
    LinkServerTable(table, cycle);
    cycle.setSettings(settings);
    std::mt19937 rng(seed);
    const auto chance = [&](int below) { return static_cast<int>(rng() % 100) < below; };
    Tally tally;
    int passesSeen = 0;
    QObject::connect(&cycle, &PollCycle::labelsChanged, [&] { ++passesSeen; });

    const auto reply = [&](const QByteArray& request, NtpReplyFields fields) {
        return BuildNtpReply(request, fields, NowNtpSeconds(clock));
    };
    const auto goodFields = [&] {
        NtpReplyFields fields;
        fields.stratum = static_cast<std::uint8_t>(1 + rng() % 4);
        fields.offset = (static_cast<double>(rng() % 2001) - 1000.0) / 10000.0; // within 0.1 s
        fields.holdTime = 0.001;
        return fields;
    };
    // Until the cycle has sent its next request (the tick ends a pass, or starts one after a removal).
    const auto untilRequest = [&]() -> bool {
        for (int i = 0; i < 200 && channel.sent.isEmpty(); ++i) {
            if (!cycle.awaitingReply() && cycle.pollRow() == -1)
                cycle.pollSoon();
            cycle.tick();
            clock.advanceMs(1000);
            ++tally.ticks;
        }
        return !channel.sent.isEmpty();
    };

    const auto startedAt = SteadyClock::now();
    long rssFirstReport = 0;
    QByteArray previousRequest;
    std::printf("%12s %8s %10s %10s\n", "steps", "passes", "VmRSS KiB", "seconds");
    std::printf("%12d %8d %10ld %10.1f   (table built; %ld KiB before)\n", 0, 0, ResidentKiB(), 0.0,
                rssBefore);
    for (long long step = 1; step <= steps; ++step) {
        if (!untilRequest()) {
            std::printf("the cycle stopped sending at step %lld\n", step);
            return 1;
        }
        const QByteArray request = channel.sent.last().datagram;
        channel.sent.clear();
        channel.connectedHosts.clear();
        clock.advanceMs(1 + static_cast<qint64>(rng() % 20));

        const int fate = static_cast<int>(rng() % 100);
        if (fate < 60) {
            channel.deliver(reply(request, goodFields()));
            ++tally.good;
        } else if (fate < 65) {
            NtpReplyFields kod;
            kod.stratum = 0;
            kod.referenceId = chance(50) ? std::array<std::uint8_t, 4>{'R', 'A', 'T', 'E'}
                                         : std::array<std::uint8_t, 4>{'D', 'E', 'N', 'Y'};
            channel.deliver(reply(request, kod));
            ++tally.kod;
        } else if (fate < 70) {
            NtpReplyFields unsynchronised = goodFields();
            unsynchronised.leap = 3;
            channel.deliver(reply(request, unsynchronised));
            ++tally.unsynchronised;
        } else if (fate < 80) {
            QByteArray bytes(static_cast<qsizetype>(rng() % 100), Qt::Uninitialized);
            for (char& c : bytes)
                c = static_cast<char>(rng());
            channel.deliver(bytes);
            channel.deliver(reply(request, goodFields()));
            ++tally.garbage;
        } else if (fate < 85) {
            const QByteArray answer = reply(request, goodFields());
            channel.deliver(answer);
            // The second copy meets the next request and must be refused as stale.
            channel.deliver(answer);
            ++tally.duplicate;
        } else if (fate < 90) {
            if (!previousRequest.isEmpty())
                channel.deliver(reply(previousRequest, goodFields()));
            channel.deliver(reply(request, goodFields()));
            ++tally.stale;
        } else if (fate < 98) {
            for (int tick = 0; tick < PollCycle::TicksToAnswer; ++tick) {
                clock.advanceMs(1000);
                cycle.tick();
                ++tally.ticks;
            }
            ++tally.silence;
        } else {
            // The operator removes a row (often the polled one) and adds a server back.
            const int row = chance(50) && cycle.pollRow() >= 0
                                ? cycle.pollRow()
                                : static_cast<int>(rng() % static_cast<unsigned>(table.rowCount()));
            if (table.rowCount() == 1)
                table.clear();
            else
                table.removeServer(row);
            table.addServer(serverName(names++));
            if (cycle.awaitingReply())
                channel.deliver(reply(request, goodFields()));
            ++tally.removals;
        }
        previousRequest = request;

        if (step % 1000 == 0) {
            // What the fakes record for tests would grow without end here.
            clock.setCalls.clear();
            messages.shown.clear();
            QCoreApplication::processEvents();
        }
        if (step % report == 0 || step == steps) {
            const long rss = ResidentKiB();
            if (rssFirstReport == 0)
                rssFirstReport = rss;
            std::printf("%12lld %8d %10ld %10.1f\n", step, passesSeen, rss,
                        SecondsBetween(startedAt, SteadyClock::now()));
            std::fflush(stdout);
        }
    }
    tally.passes = passesSeen;
    const double seconds = SecondsBetween(startedAt, SteadyClock::now());
    const long rssEnd = ResidentKiB();
    std::printf("\nanswers: %lld good, %lld KoD, %lld LI 3, %lld garbage then good, %lld twice, "
                "%lld stale then good, %lld silent (time-out), %lld removals and re-adds; %lld ticks\n",
                tally.good, tally.kod, tally.unsynchronised, tally.garbage, tally.duplicate, tally.stale,
                tally.silence, tally.removals, tally.ticks);
    std::printf("%lld steps, %lld passes ended, rows %d, in %.1f s (%.2f us per step)\n", steps, tally.passes,
                table.rowCount(), seconds, seconds / static_cast<double>(steps) * 1e6);
    std::printf("VmRSS: %ld KiB at the first report, %ld KiB at the end: growth %ld KiB; VmHWM %ld KiB\n",
                rssFirstReport, rssEnd, rssEnd - rssFirstReport, PeakResidentKiB());
    return 0;
}
