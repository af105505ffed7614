// Start-up to the first request with 0, 100 and 10,000 stored servers, resident memory, and CPU
// at rest between passes; beside them "ntpdate -q" given as many servers and an idle chronyd.
// Each start-up runs in a fresh process (this program started again with --child), on the real
// path: the INI file in a temporary XDG_CONFIG_HOME, the main window built offscreen.
// Prints, never asserts.
//
// History is on, as in the program: its database goes to a temporary XDG_DATA_HOME.
//
//   bench_scale [--runs 3] [--rest 20] [--history 1]

#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "history/historyrecorder.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "platform/qsettingsbackend.h"
#include "servers/serverlistmodel.h"
#include "servers/settingsstore.h"

#include <QApplication>
#include <QEventLoop>
#include <QMap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unistd.h>

using namespace ostrelle;

namespace {

constexpr int Sizes[] = {0, 100, 10000};
constexpr int PassTimeoutMs = 120000;

int intArgument(int argc, char* argv[], const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    }
    return fallback;
}

// Runs the event loop for ms, or until quit.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One start-up, in this process: prints one line of key=value figures for the parent.
int runChild(int argc, char* argv[])
{
    const int servers = intArgument(argc, argv, "--child", 0);
    const int restSeconds = intArgument(argc, argv, "--rest", 0);
    const bool history = intArgument(argc, argv, "--history", 1) != 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrelle"));
    QApplication::setOrganizationName(QStringLiteral("Brevikon"));

    // Declared first, so that it outlives the farm whose thread may still post to it.
    QEventLoop firstRequest;
    ResponderFarm farm;
    farm.onFirstRequest = [&firstRequest] {
        QMetaObject::invokeMethod(
            &firstRequest, [&firstRequest] { firstRequest.quit(); }, Qt::QueuedConnection);
    };
    // Only a full pass before the rest needs every server to answer; the first request needs one.
    QString why;
    if (servers > 0 && !farm.start(LoopbackFirst, restSeconds > 0 ? servers : 1, 0, &why)) {
        std::printf("error=responders:%s\n", qPrintable(why));
        return 1;
    }
    ReadOnlyClock clock;
    ScriptedMessageDialog messages;

    const auto t0 = SteadyClock::now();
    QSettingsBackend backend;
    NativeUdpChannel channel(farm.port(), 0);
    std::optional<HistoryRecorder> recorder;
    if (history)
        recorder.emplace();
    auto form = std::make_unique<MainWindow>(clock, backend, channel, messages);
    if (recorder)
        form->setHistoryRecorder(*recorder);
    const auto loadedAt = SteadyClock::now();
    form->show();
    const auto shownAt = SteadyClock::now();

    PollCycle& cycle = form->monitor().cycle();
    bool passEnded = false;
    SteadyClock::time_point passEndedAt{};
    QObject::connect(&cycle, &PollCycle::labelsChanged, [&] {
        if (!passEnded)
            passEndedAt = SteadyClock::now();
        passEnded = true;
    });

    QMap<QString, QString> figures;
    figures[QStringLiteral("servers")] = QString::number(form->monitor().servers().rowCount());
    figures[QStringLiteral("loaded_ms")] = QString::number(SecondsBetween(t0, loadedAt) * 1e3, 'f', 2);
    figures[QStringLiteral("shown_ms")] = QString::number(SecondsBetween(t0, shownAt) * 1e3, 'f', 2);
    if (servers > 0) {
        QTimer::singleShot(30000, &firstRequest, &QEventLoop::quit);
        if (!farm.firstRequestAt())
            firstRequest.exec();
        if (const auto at = farm.firstRequestAt())
            figures[QStringLiteral("first_request_ms")] =
                QString::number(SecondsBetween(t0, *at) * 1e3, 'f', 2);
    }
    // Let the window draw itself before its memory is read.
    spin(500);
    figures[QStringLiteral("rss_start_kib")] = QString::number(ResidentKiB());

    if (restSeconds > 0 && servers > 0) {
        QEventLoop waitPass;
        QObject::connect(&cycle, &PollCycle::labelsChanged, &waitPass, &QEventLoop::quit);
        QTimer::singleShot(PassTimeoutMs, &waitPass, &QEventLoop::quit);
        if (!passEnded)
            waitPass.exec();
        if (passEnded) {
            int ok = 0;
            for (const ServerRecord& record : form->monitor().servers().records())
                ok += ServerCellText(record, ServerColumn::Status) == QLatin1String("OK");
            figures[QStringLiteral("pass_s")] = QString::number(SecondsBetween(t0, passEndedAt), 'f', 2);
            figures[QStringLiteral("pass_ok")] = QString::number(ok);
            // The pass's samples reach the database before the rest is measured.
            if (recorder) {
                recorder->waitForWrites();
                figures[QStringLiteral("history_written_ms")] =
                    QString::number(SecondsBetween(passEndedAt, SteadyClock::now()) * 1e3, 'f', 1);
            }
            spin(500);
            figures[QStringLiteral("rss_pass_kib")] = QString::number(ResidentKiB());
            // Nothing but the program is left in this process while it rests.
            farm.stop();
            const double cpu0 = ProcessCpuSeconds();
            const auto restFrom = SteadyClock::now();
            spin(restSeconds * 1000);
            const double cpu = ProcessCpuSeconds() - cpu0;
            const double wall = SecondsBetween(restFrom, SteadyClock::now());
            figures[QStringLiteral("rest_cpu_ms")] = QString::number(cpu * 1e3, 'f', 1);
            figures[QStringLiteral("rest_s")] = QString::number(wall, 'f', 1);
            figures[QStringLiteral("rest_pct")] = QString::number(cpu / wall * 100.0, 'f', 3);
            // Counted from 1 as in earlier figures: 0 while resting.
            figures[QStringLiteral("rest_poll_row")] = QString::number(cycle.pollRow() + 1);
        }
    }
    figures[QStringLiteral("hwm_kib")] = QString::number(PeakResidentKiB());
    form.reset();

    QString line;
    for (auto it = figures.cbegin(); it != figures.cend(); ++it)
        line += it.key() + QLatin1Char('=') + it.value() + QLatin1Char(' ');
    std::printf("figures %s\n", qPrintable(line.trimmed()));
    return 0;
}

using Figures = QMap<QString, QString>;

Figures parseFigures(const QByteArray& output)
{
    Figures figures;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("figures ") && !line.startsWith("error="))
            continue;
        for (const QByteArray& pair : line.mid(line.startsWith("figures ") ? 8 : 0).split(' ')) {
            const auto eq = pair.indexOf('=');
            if (eq > 0)
                figures[QString::fromLatin1(pair.left(eq))] = QString::fromLatin1(pair.mid(eq + 1));
        }
    }
    return figures;
}

double number(const Figures& figures, const char* key)
{
    return figures.value(QLatin1String(key), QStringLiteral("-1")).toDouble();
}

// The stored servers of one size, in an INI file under a temporary XDG_CONFIG_HOME.
bool writeStore(const QTemporaryDir& xdg, int servers)
{
    QStringList names;
    for (int i = 0; i < servers; ++i)
        names << LoopbackAddress(LoopbackFirst, i);
    ScriptedMessageDialog messages;
    QSettingsBackend backend(xdg.filePath(QStringLiteral("Brevikon")));
    return SettingsStore(backend, messages).saveSettings(Settings{}, names);
}

void runPeers(int restSeconds)
{
    std::printf("\nPeers\n");
    const QString ntpdate = NtpdateExecutable();
    if (!MayBindPrivilegedPorts() || ntpdate.isEmpty()) {
        std::printf("  ntpdate -q: %s; left out\n",
                    ntpdate.isEmpty() ? "not installed" : "it only asks port 123, which needs root");
    } else {
        ResponderFarm farm;
        QString why;
        if (!farm.start(LoopbackFirst, 10000, 123, &why)) {
            std::printf("  ntpdate -q left out: %s\n", qPrintable(why));
        } else {
            for (const int servers : {100, 10000}) {
                QStringList args{QStringLiteral("-q")};
                for (int i = 0; i < servers; ++i)
                    args << LoopbackAddress(LoopbackFirst, i);
                std::vector<double> first;
                ProgramRun last;
                for (int run = 0; run < 3; ++run) {
                    farm.resetFirstRequest();
                    last = RunProgram(ntpdate, args, 120000);
                    if (const auto at = farm.firstRequestAt())
                        first.push_back(SecondsBetween(last.startedAt, *at));
                    if (servers == 10000)
                        break; // one run is enough to see it, and it is the slow one
                }
                std::printf("  ntpdate -q with %5d servers: first request after %7.1f ms (median of %zu), "
                            "all done after %8.1f ms, peak RSS %6.1f MiB, exit %d\n",
                            servers, Median(first) * 1e3, first.size(), last.wallSeconds * 1e3,
                            static_cast<double>(last.peakResidentKiB) / 1024.0, last.exitCode);
            }
        }
    }

    if (restSeconds <= 0)
        return;
    LocalChronyd chronyd;
    QString why;
    const QString address = QStringLiteral("127.77.201.3");
    const std::uint16_t port = MayBindPrivilegedPorts() ? 123 : FreeUdpPort(address);
    if (!chronyd.start(address, port, 3, &why)) {
        std::printf("  chronyd left out: %s\n", qPrintable(why));
        return;
    }
    ::sleep(2);
    const double cpu0 = ProcessCpuSecondsOf(chronyd.pid());
    const auto from = SteadyClock::now();
    ::sleep(static_cast<unsigned>(restSeconds));
    const double cpu = ProcessCpuSecondsOf(chronyd.pid()) - cpu0;
    const double wall = SecondsBetween(from, SteadyClock::now());
    std::printf(
        "  chronyd -x (local stratum 3, serving nobody), at rest: %.1f ms CPU in %.1f s = %.3f%% of a core "
        "(clock ticks of 10 ms); VmRSS %.1f MiB\n",
        cpu * 1e3, wall, cpu / wall * 100.0, static_cast<double>(ResidentKiB(chronyd.pid())) / 1024.0);
}

} // namespace

int main(int argc, char* argv[])
{
    if (intArgument(argc, argv, "--child", -1) >= 0)
        return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = std::clamp(intArgument(argc, argv, "--runs", 3), 1, 10);
    const int restSeconds = std::clamp(intArgument(argc, argv, "--rest", 20), 0, 120);
    const int history = intArgument(argc, argv, "--history", 1) != 0 ? 1 : 0;
    std::printf("Scale: start-up in a fresh process, %d runs per size, the last one followed by a full pass "
                "and %d s of rest, history %s (%s)\n\n",
                runs, restSeconds, history ? "on" : "off", qPrintable(LoadText()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString self = QCoreApplication::applicationFilePath();

    std::printf("%8s %14s %14s %16s %12s %12s %10s %12s\n", "servers", "start-up ms", "shown ms",
                "first request ms", "RSS MiB", "pass s", "RSS MiB", "rest CPU %");
    std::printf("%8s %14s %14s %16s %12s %12s %10s %12s\n", "", "(median)", "(median)", "(median)",
                "(start-up)", "(all OK)", "(after)", "of a core");
    QMap<int, double> firstRequestMedian;
    QMap<int, double> restPct;
    QMap<int, double> rssAfter;
    for (const int servers : Sizes) {
        QTemporaryDir xdg;
        if (!xdg.isValid() || !writeStore(xdg, servers)) {
            std::printf("%8d cannot write the store\n", servers);
            continue;
        }
        qputenv("XDG_CONFIG_HOME", xdg.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", xdg.filePath(QStringLiteral("data")).toLocal8Bit());
        std::vector<double> loaded, shown, first;
        Figures last;
        for (int run = 0; run < runs; ++run) {
            const bool rest = run == runs - 1 && servers > 0 && restSeconds > 0;
            const ProgramRun child =
                RunProgram(self,
                           {QStringLiteral("--child"), QString::number(servers), QStringLiteral("--rest"),
                            QString::number(rest ? restSeconds : 0), QStringLiteral("--history"),
                            QString::number(history)},
                           (restSeconds + PassTimeoutMs / 1000 + 60) * 1000);
            last = parseFigures(child.output);
            if (!child.finished || child.exitCode != 0 || last.contains(QStringLiteral("error"))) {
                std::printf("%8d run %d failed: %s\n", servers, run, child.output.left(400).constData());
                continue;
            }
            if (static_cast<int>(number(last, "servers")) != servers)
                std::printf("%8d run %d loaded %s servers instead\n", servers, run,
                            qPrintable(last.value(QStringLiteral("servers"))));
            loaded.push_back(number(last, "loaded_ms"));
            shown.push_back(number(last, "shown_ms"));
            if (last.contains(QStringLiteral("first_request_ms")))
                first.push_back(number(last, "first_request_ms"));
        }
        if (!first.empty())
            firstRequestMedian[servers] = Median(first);
        if (last.contains(QStringLiteral("rest_pct")))
            restPct[servers] = number(last, "rest_pct");
        const double rssPass = number(last, "rss_pass_kib");
        rssAfter[servers] = std::max(number(last, "rss_start_kib"), rssPass);
        std::printf("%8d %14.1f %14.1f %16s %12.1f %12s %10s %12s\n", servers, Median(loaded), Median(shown),
                    first.empty() ? "-" : qPrintable(QString::number(Median(first), 'f', 1)),
                    number(last, "rss_start_kib") / 1024.0,
                    last.contains(QStringLiteral("pass_s"))
                        ? qPrintable(QStringLiteral("%1 (%2)")
                                         .arg(number(last, "pass_s"), 0, 'f', 2)
                                         .arg(last.value(QStringLiteral("pass_ok"))))
                        : "-",
                    rssPass > 0 ? qPrintable(QString::number(rssPass / 1024.0, 'f', 1)) : "-",
                    last.contains(QStringLiteral("rest_pct"))
                        ? qPrintable(QStringLiteral("%1 (%2 ms)")
                                         .arg(last.value(QStringLiteral("rest_pct")),
                                              last.value(QStringLiteral("rest_cpu_ms"))))
                        : "-");
        if (last.contains(QStringLiteral("history_written_ms")))
            std::printf("%8s the pass's history was in the database %s ms after the pass ended\n", "",
                        qPrintable(last.value(QStringLiteral("history_written_ms"))));
        std::fflush(stdout);
    }
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");

    runPeers(restSeconds);

    std::printf("\nGoals\n");
    if (firstRequestMedian.contains(10000))
        std::printf("  under 0.3 s to the first request with 10,000 servers: %.1f ms -> %s\n",
                    firstRequestMedian[10000], firstRequestMedian[10000] < 300.0 ? "met" : "NOT met");
    if (rssAfter.contains(10000))
        std::printf("  under 60 MiB resident with 10,000 servers: %.1f MiB -> %s\n", rssAfter[10000] / 1024.0,
                    rssAfter[10000] < 60.0 * 1024.0 ? "met" : "NOT met");
    if (history && rssAfter.contains(10000))
        std::printf("  under 80 MiB resident with 10,000 servers and history on: %.1f MiB -> %s\n",
                    rssAfter[10000] / 1024.0, rssAfter[10000] < 80.0 * 1024.0 ? "met" : "NOT met");
    for (auto it = restPct.cbegin(); it != restPct.cend(); ++it)
        std::printf("  under 0.5%% of a core at rest (%d servers): %.3f%% -> %s\n", it.key(), it.value(),
                    it.value() < 0.5 ? "met" : "NOT met");
    return 0;
}
