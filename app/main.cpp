#include "app/mainwindow.h"
#include "history/historyrecorder.h"
#include "platform/clockstepper.h"
#include "platform/hostresolver.h"
#include "platform/nativeudpchannel.h"
#include "platform/notifier.h"
#include "platform/qsettingsbackend.h"
#include "platform/readingclock.h"
#include "platform/singleinstance.h"
#include "platform/startingconsole.h"
#include "platform/systemclock.h"
#include "platform/timeservice.h"
#include "platform/widgetmessagedialog.h"
#include "report/reportpoller.h"

#include <QApplication>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// Qt aborts with a long plugin message when no display can be opened; say it in one line instead.
bool hasDisplay()
{
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

// --report, --help, --version and usage errors: no display, no window, an exit status.
int runWithoutWindow(int argc, char* argv[], const ostrelle::CommandLine& line)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ostrelle"));
    // The report only reads the clock.
    ostrelle::ReadingClock clock;
    ostrelle::QSettingsBackend store;
    ostrelle::ReportPoller poller(clock, store);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return ostrelle::RunCommandLine(line, poller, out, err);
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // The elevated copy that a clock stepper started does that one step and nothing else.
    if (const std::optional<int> status = ostrelle::RunClockStepRequest(arguments))
        return *status;
    const ostrelle::CommandLine line = ostrelle::ParseCommandLine(arguments);
    if (line.action != ostrelle::CommandLine::Action::StartWindow) {
        ostrelle::UseStartingConsole();
        return runWithoutWindow(argc, argv, line);
    }

    if (!hasDisplay()) {
        std::fputs("ostrelle: no graphical display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                   "start it from a desktop session.\n",
                   stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrelle"));
    // Places the history in the local data folder's Brevikon/Ostrelle; the settings' place does not
    // depend on it.
    QApplication::setOrganizationName(QStringLiteral("Brevikon"));
    // A second start shows the running copy's window: two copies would each save their own list
    // over the other's.
    ostrelle::SingleInstance instance;
    if (instance.claim() == ostrelle::SingleInstance::Claim::HandedOver)
        return 0;

    ostrelle::SystemClock clock;
    ostrelle::QSettingsBackend store;
    ostrelle::NativeUdpChannel channel;
    ostrelle::WidgetMessageDialog messages;
    const std::unique_ptr<ostrelle::ClockStepper> stepper = ostrelle::CreateClockStepper(clock);
    const std::unique_ptr<ostrelle::TimeService> timeService = ostrelle::CreateTimeService();
    const std::unique_ptr<ostrelle::Notifier> notifier = ostrelle::CreateNotifier();
    // Before the window, so that it outlives the history windows that read from it.
    ostrelle::HistoryRecorder history;
    ostrelle::MainWindow window(clock, store, channel, messages, &ostrelle::SystemHostResolver());
    window.monitor().cycle().setClockStepper(*stepper);
    // For tests only: a PEM file of certificates that NTS servers may also show, so that a local
    // server with a self-signed certificate can be tried without touching the system's trust store.
    if (const QString trust = qEnvironmentVariable("OSTRELLE_TEST_NTS_TRUST_FILE"); !trust.isEmpty())
        window.monitor().cycle().ntsSessions().setExtraTrustFile(trust);
    messages.setParentWidget(&window);
    window.setHistoryRecorder(history);
    window.setTimeService(*timeService);
    window.setNotifier(*notifier);
    window.showTrayIcon();
    QObject::connect(&instance, &ostrelle::SingleInstance::showRequested, &window,
                     &ostrelle::MainWindow::bringToFront);
    window.show();
    return app.exec();
}
