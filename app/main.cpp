#include "app/mainwindow.h"
#include "history/historyrecorder.h"
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
    // Places the history in the data folder's Brevikon/Ostrelle; the INI file does not depend on it.
    QApplication::setOrganizationName(QStringLiteral("Brevikon"));

    ostrelle::SystemClock clock;
    ostrelle::QSettingsBackend store;
    ostrelle::NativeUdpChannel channel;
    ostrelle::WidgetMessageDialog messages;
    // Before the window, so that it outlives the history windows that read from it.
    ostrelle::HistoryRecorder history;
    ostrelle::MainWindow window(clock, store, channel, messages);
    messages.setParentWidget(&window);
    window.setHistoryRecorder(history);
    window.show();
    return app.exec();
}
