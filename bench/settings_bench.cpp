// Times a save and a load of a 10,000-server store against a real INI file. Prints, never asserts.

#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/settingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

using namespace ostrelle;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    constexpr int serverCount = 10000;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        out << "cannot create a temporary folder: " << dir.errorString() << Qt::endl;
        return 1;
    }

    QStringList names;
    for (int i = 1; i <= serverCount; ++i)
        names << QStringLiteral("ntp%1.example.org").arg(i);
    const Settings settings;
    ScriptedMessageDialog messages;

    QElapsedTimer timer;
    {
        QSettingsBackend backend(dir.path());
        SettingsStore store(backend, messages);
        timer.start();
        const bool saved = store.saveSettings(settings, names);
        const qint64 saveMs = timer.elapsed();
        out << "saveSettings, " << serverCount << " servers: " << saveMs << " ms"
            << (saved ? "" : " (failed)") << Qt::endl;
    }
    // QSettings keeps parsed files within the process; a copy at another path is read from disk.
    QTemporaryDir copyDir;
    QFile::copy(dir.filePath(QStringLiteral("Ostrelle.ini")),
                copyDir.filePath(QStringLiteral("Ostrelle.ini")));
    {
        QSettingsBackend backend(copyDir.path());
        SettingsStore store(backend, messages);
        timer.start();
        const StoredState loaded = store.loadSettings();
        const qint64 loadMs = timer.elapsed();
        out << "loadSettings, " << loaded.servers.size() << " servers: " << loadMs << " ms" << Qt::endl;
    }
    return 0;
}
