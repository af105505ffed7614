#include "app/mainwindow.h"
#include "platform/nativeudpchannel.h"
#include "platform/qsettingsbackend.h"
#include "platform/systemclock.h"
#include "platform/widgetmessagedialog.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

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

} // namespace

int main(int argc, char* argv[])
{
    if (!hasDisplay()) {
        std::fputs("ostrelle: no graphical display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                   "start it from a desktop session.\n",
                   stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrelle"));

    ostrelle::SystemClock clock;
    ostrelle::QSettingsBackend store;
    ostrelle::NativeUdpChannel channel;
    ostrelle::WidgetMessageDialog messages;
    ostrelle::MainWindow window(clock, store, channel, messages);
    // For tests only: a PEM file of certificates that NTS servers may also show, so that a local
    // server with a self-signed certificate can be tried without touching the system's trust store.
    if (const QString trust = qEnvironmentVariable("OSTRELLE_TEST_NTS_TRUST_FILE"); !trust.isEmpty())
        window.monitor().cycle().ntsSessions().setExtraTrustFile(trust);
    messages.setParentWidget(&window);
    window.show();
    return app.exec();
}
