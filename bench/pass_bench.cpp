// Times whole passes of the real poll cycle and UDP channel over 100 loopback servers that all
// answer at once, and asks "ntpdate -q" about the same servers. Prints, never asserts.
//
//   bench_pass [--passes 20]

#include "app/mainwindow.h"
#include "app/monitor.h"
#include "bench/benchsupport.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverlistmodel.h"
#include "servers/settingsstore.h"

#include <QApplication>
#include <QEventLoop>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace ostrelle;

namespace {

constexpr int ServerCount = 100;
constexpr int PassTimeoutMs = 60000;

// Connected to the channel before the cycle is, so that it sees ready() before the request is
// built and sent, and each datagram before the cycle processes it.
class RoundTripMeter : public QObject
{
public:
    explicit RoundTripMeter(UdpChannel& channel)
    {
        connect(&channel, &UdpChannel::ready, this, [this] {
            m_sentAt = SteadyClock::now();
            m_waiting = true;
        });
        connect(&channel, &UdpChannel::datagramArrived, this, [this] {
            if (!m_waiting)
                return;
            m_total += SecondsBetween(m_sentAt, SteadyClock::now());
            m_waiting = false;
            ++m_count;
        });
    }

    void reset()
    {
        m_total = 0.0;
        m_count = 0;
        m_waiting = false;
    }
    double total() const { return m_total; }
    int count() const { return m_count; }

private:
    SteadyClock::time_point m_sentAt{};
    bool m_waiting = false;
    double m_total = 0.0;
    int m_count = 0;
};

struct PassFigures
{
    bool ended = false;
    double wall = 0.0;
    double roundTrips = 0.0;
    int replies = 0;
    double threadCpu = 0.0;
    double processCpu = 0.0;
    int okRows = 0;
};

// Waits for the pass under way (or starts one, as a dialog's OK followed by a tick does) to end.
PassFigures runPass(PollCycle& cycle, RoundTripMeter& meter, const ServerListModel& servers, bool startIt)
{
    PassFigures f;
    QEventLoop loop;
    SteadyClock::time_point endedAt{};
    const auto ended = QObject::connect(&cycle, &PollCycle::labelsChanged, &loop, [&] {
        endedAt = SteadyClock::now();
        f.ended = true;
        loop.quit();
    });
    QTimer::singleShot(PassTimeoutMs, &loop, &QEventLoop::quit);

    meter.reset();
    const double thread0 = ThreadCpuSeconds();
    const double process0 = ProcessCpuSeconds();
    const auto startedAt = SteadyClock::now();
    if (startIt) {
        cycle.pollSoon();
        cycle.tick();
    }
    if (!f.ended)
        loop.exec();
    QObject::disconnect(ended);
    f.threadCpu = ThreadCpuSeconds() - thread0;
    f.processCpu = ProcessCpuSeconds() - process0;
    f.wall = SecondsBetween(startedAt, endedAt);
    f.roundTrips = meter.total();
    f.replies = meter.count();
    for (const ServerRecord& record : servers.records())
        f.okRows += ServerCellText(record, ServerColumn::Status) == QLatin1String("OK");
    return f;
}

struct Summary
{
    std::vector<double> wall, beyond, threadCpu, processCpu, roundTrips;
    int incomplete = 0;

    void add(const PassFigures& f)
    {
        if (!f.ended || f.okRows != ServerCount || f.replies != ServerCount) {
            ++incomplete;
            return;
        }
        wall.push_back(f.wall);
        roundTrips.push_back(f.roundTrips);
        beyond.push_back((f.wall - f.roundTrips) / ServerCount);
        threadCpu.push_back(f.threadCpu);
        processCpu.push_back(f.processCpu);
    }

    void print(const char* title) const
    {
        std::printf("%s: %zu passes measured, %d incomplete\n", title, wall.size(), incomplete);
        if (wall.empty())
            return;
        std::printf("  pass wall time            median %8.2f ms   best %8.2f ms   worst %8.2f ms\n",
                    Median(wall) * 1e3, *std::min_element(wall.begin(), wall.end()) * 1e3, Worst(wall) * 1e3);
        std::printf("  per server, all included  median %8.3f ms\n", Median(wall) * 1e3 / ServerCount);
        std::printf("  sum of 100 round trips    median %8.2f ms\n", Median(roundTrips) * 1e3);
        std::printf("  beyond the network        median %8.3f ms per server   worst %8.3f ms per server\n",
                    Median(beyond) * 1e3, Worst(beyond) * 1e3);
        std::printf("  CPU, main thread          median %8.2f ms per pass (%.3f ms per server)\n",
                    Median(threadCpu) * 1e3, Median(threadCpu) * 1e3 / ServerCount);
        std::printf("  CPU, whole process        median %8.2f ms per pass (responder thread included)\n",
                    Median(processCpu) * 1e3);
    }
};

QStringList serverNames()
{
    QStringList names;
    for (int i = 0; i < ServerCount; ++i)
        names << LoopbackAddress(LoopbackFirst, i);
    return names;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int passes = 20;
    const QStringList args = app.arguments();
    if (const auto at = args.indexOf(QStringLiteral("--passes")); at > 0 && at + 1 < args.size())
        passes = std::clamp(args[at + 1].toInt(), 1, 100);

    // ntpdate only ever asks port 123; without the right to bind it both sides use another port
    // and the peer is left out.
    ResponderFarm farm;
    QString why;
    std::uint16_t port = 123;
    if (!MayBindPrivilegedPorts() || !farm.start(LoopbackFirst, ServerCount, port, &why)) {
        std::printf("port 123 not available (%s); using a port of the system's choosing, no peer figures\n",
                    qPrintable(why.isEmpty() ? QStringLiteral("not root") : why));
        port = 0;
        if (!farm.start(LoopbackFirst, ServerCount, port, &why)) {
            std::printf("cannot start the responders: %s\n", qPrintable(why));
            return 1;
        }
    }
    std::printf("Pass over %d loopback servers (%s .. %s, port %u), each answering at once; "
                "%d passes after one warm-up (%s)\n\n",
                ServerCount, qPrintable(LoopbackAddress(LoopbackFirst, 0)),
                qPrintable(LoopbackAddress(LoopbackFirst, ServerCount - 1)), farm.port(), passes,
                qPrintable(LoadText()));

    ReadOnlyClock clock;
    ScriptedMessageDialog messages;
    const auto runCycleOnly = [&](Summary& summary) {
        ServerListModel servers;
        servers.addServers(serverNames());
        // The local port is left to the system, so that port 123 stays free for anyone else's daemon.
        NativeUdpChannel channel(farm.port(), 0);
        RoundTripMeter meter(channel);
        PollCycle cycle(channel, clock, messages);
        LinkServerTable(servers, cycle);
        QTimer tick;
        tick.setInterval(1000);
        QObject::connect(&tick, &QTimer::timeout, &cycle, &PollCycle::tick);
        tick.start();
        runPass(cycle, meter, servers, true);
        for (int i = 0; i < passes; ++i)
            summary.add(runPass(cycle, meter, servers, true));
    };
    Summary cycleOnly;
    runCycleOnly(cycleOnly);
    cycleOnly.print("Ostrelle, PollCycle + NativeUdpChannel");

    Summary window;
    {
        MemorySettingsBackend backend;
        if (!SettingsStore(backend, messages).saveSettings(Settings{}, serverNames()))
            std::printf("cannot seed the settings\n");
        NativeUdpChannel channel(farm.port(), 0);
        RoundTripMeter meter(channel);
        MainWindow form(clock, backend, channel, messages);
        form.show();
        // The start-up has begun the first pass: the warm-up.
        runPass(form.monitor().cycle(), meter, form.monitor().servers(), false);
        for (int i = 0; i < passes; ++i)
            window.add(runPass(form.monitor().cycle(), meter, form.monitor().servers(), true));
    }
    std::printf("\n");
    window.print("Ostrelle, whole main window (offscreen, table drawn)");

    // Not the program as it is: Qt asks the system's proxy configuration (libproxy, on a thread of
    // its own that the caller waits for) for every socket; this shows what skipping that would save.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    Summary noProxyLookup;
    runCycleOnly(noProxyLookup);
    std::printf("\n");
    noProxyLookup.print(
        "For comparison only: PollCycle + NativeUdpChannel with Qt's system proxy lookup off");

    std::vector<double> peerAll, peerOne, peerMany;
    const QString ntpdate = NtpdateExecutable();
    if (farm.port() == 123 && !ntpdate.isEmpty()) {
        QStringList all{QStringLiteral("-q")};
        for (int i = 0; i < ServerCount; ++i)
            all << LoopbackAddress(LoopbackFirst, i);
        // Its start-up alone is larger than a pass: its cost per server shows only over many more.
        constexpr int Repeats = 10;
        QStringList many{QStringLiteral("-q")};
        for (int r = 0; r < Repeats; ++r)
            many << all.mid(1);
        const int before = farm.requestCount();
        int failures = 0;
        for (int i = 0; i < 5; ++i) {
            const ProgramRun run = RunProgram(ntpdate, all, 120000);
            if (run.finished && run.exitCode == 0 && ParseNtpdateOutput(run.output))
                peerAll.push_back(run.wallSeconds);
            else
                ++failures;
            const ProgramRun one = RunProgram(ntpdate, {QStringLiteral("-q"), all[1]}, 30000);
            if (one.finished && one.exitCode == 0)
                peerOne.push_back(one.wallSeconds);
            if (i < 3) {
                const ProgramRun longer = RunProgram(ntpdate, many, 120000);
                if (longer.finished && longer.exitCode == 0)
                    peerMany.push_back(longer.wallSeconds);
            }
        }
        std::printf("\nPeer, %s -q with all %d servers in one invocation (it asks them one after another): "
                    "%zu runs, %d failed, %d requests answered in all\n",
                    qPrintable(ntpdate), ServerCount, peerAll.size(), failures, farm.requestCount() - before);
        if (!peerAll.empty()) {
            std::printf("  wall time                 median %8.2f ms   best %8.2f ms\n",
                        Median(peerAll) * 1e3, *std::min_element(peerAll.begin(), peerAll.end()) * 1e3);
        }
        if (!peerOne.empty()) {
            std::printf("  with one server           median %8.2f ms (mostly its start-up)\n",
                        Median(peerOne) * 1e3);
            if (!peerMany.empty())
                std::printf(
                    "  per server, all included  %8.3f ms (the %d servers %d times over in one invocation, "
                    "less one server; medians)\n",
                    (Median(peerMany) - Median(peerOne)) / (ServerCount * Repeats - 1) * 1e3, ServerCount,
                    Repeats);
        }
    } else {
        std::printf("\nPeer: ntpdate %s; no peer figures\n",
                    ntpdate.isEmpty() ? "is not installed" : "needs port 123, which is not available");
    }

    std::printf("\nGoals\n");
    for (const auto& [name, summary] :
         {std::pair<const char*, const Summary*>{"PollCycle + NativeUdpChannel", &cycleOnly},
          {"whole main window", &window}}) {
        if (summary->beyond.empty())
            continue;
        const double perServer = Median(summary->beyond) * 1e3;
        std::printf("  %-25s under 0.5 ms per server beyond the network: %.3f ms -> %s\n", name, perServer,
                    perServer < 0.5 ? "met" : "NOT met");
        if (!peerAll.empty()) {
            const double ours = Median(summary->wall);
            const double theirs = Median(peerAll);
            std::printf("  %-25s not slower than the peer: %.2f ms against %.2f ms -> %s\n", name, ours * 1e3,
                        theirs * 1e3, ours <= theirs ? "met" : "NOT met");
        }
    }
    return 0;
}
