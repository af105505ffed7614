#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;

namespace {

// A start of the program on the store in a folder.
struct Program
{
    explicit Program(const QString& directory) : backend(directory)
    {
        const StoredState stored = store.loadSettings();
        settings = stored.settings;
        servers = stored.servers;
    }
    bool save() { return store.saveSettings(settings, servers); }
    // The poll interval, then the server names.
    QStringList state() const { return QStringList{QString::number(settings.pollIntervalSeconds)} + servers; }

    QSettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store{backend, messages};
    Settings settings;
    QStringList servers;
};

// What a fresh program reads from a copy of the file: QSettings shares parsed files within the
// process, so reading the same path again could show values never written.
QStringList reloaded(const QString& iniPath)
{
    QTemporaryDir dir;
    QFile::copy(iniPath, dir.filePath(QStringLiteral("Ostrelle.ini")));
    return Program(dir.path()).state();
}

} // namespace

class TestQSettingsBackend : public QObject
{
    Q_OBJECT

private slots:
    void shouldWriteWhatItHoldsWhateverTheNameOrFileBefore_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("loaded"); // if not empty: what the program loads from the file
        QTest::addColumn<QString>("name");
        QByteArray random(4096, '\0');
        QRandomGenerator(20060310).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
        // clang-format off
        QTest::newRow("tab inside")           << QByteArray() << QStringList() << QStringLiteral("ntp\tOK\t4");
        QTest::newRow("blanks around")        << QByteArray() << QStringList() << QStringLiteral("  pool.example.org   ");
        QTest::newRow("INI syntax")           << QByteArray() << QStringList() << QStringLiteral("[Settings] a=b; #c, \"d\" 'e' C:\\ntp");
        QTest::newRow("looks like a variant") << QByteArray() << QStringList() << QStringLiteral("@Variant(garbage)");
        QTest::newRow("non-ASCII letters")    << QByteArray() << QStringList() << QStringLiteral("zeit.zürich.ch ΩΣ 時計");
        QTest::newRow("garbage: settings, then random bytes")
            << "[Settings]\nNtpServerCnt=4\nNtpServer0001=@Variant(" + random << QStringList() << QStringLiteral("added");
        QTest::newRow("hand-edited: unquoted, a list, an empty name")
            << QByteArray("[Settings]\nNtpPoll=90\nNtpServerCnt=2\nNtpServer0001=a, b\nNtpServer0002=\n")
            << QStringList{"90", "a, b"} << QStringLiteral("added");
        // clang-format on
    }
    void shouldWriteWhatItHoldsWhateverTheNameOrFileBefore()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, loaded);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Ostrelle.ini"));
        QFile file(path);
        QVERIFY(file.open(QFile::WriteOnly | QFile::Unbuffered) && file.write(before) == before.size());
        // Windows replaces no file that is still open, as the operator's editor would not keep it.
        file.close();
        Program program(dir.path());
        if (!loaded.isEmpty())
            QCOMPARE(program.state(), loaded);
        program.servers.append(name);
        QVERIFY(program.save());
        QCOMPARE(reloaded(path), program.state());
    }

    void shouldReportUnwritableStoreAndWriteAllOnceWritable()
    {
#ifdef Q_OS_WIN
        QSKIP("XDG_CONFIG_HOME places the default INI file on Linux only; Windows's store is the registry");
#endif
        // As root a read-only file is still written, so the store is blocked by what is in its way.
        QTemporaryDir root;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path())); // the store's folder is Brevikon in it
        const QString directory = root.filePath(QStringLiteral("Brevikon"));
        const QString path = directory + QStringLiteral("/Ostrelle.ini");
        const QString why = "The settings could not be saved.\n\n" + QDir::toNativeSeparators(path) + ": ";
        QVERIFY(QFile(directory).open(QIODevice::WriteOnly)); // a file where the folder belongs
        Program program{QString()};
        program.servers.append(QStringLiteral("alpha"));
        program.settings.pollIntervalSeconds = 300;
        QVERIFY(!program.save());
        QCOMPARE(program.messages.shown.value(0).text, why + "the folder cannot be created");

        QVERIFY(QFile::remove(directory) && QDir().mkpath(path));
        QVERIFY(!program.save());
        QCOMPARE(program.messages.shown.value(1).text, why + "a folder is in the way");

        QVERIFY(QDir(path).removeRecursively());
        program.servers.append(QStringLiteral("bravo"));
        QVERIFY(program.save());
        QCOMPARE(reloaded(path), QStringList({"300", "alpha", "bravo"}));
        QFile file(path);
        QVERIFY(file.open(QFile::ReadOnly) && file.readAll().startsWith("[Settings]\nNtpPoll=\" 300\"\n"));
    }
};

QTEST_GUILESS_MAIN(TestQSettingsBackend)
#include "test_qsettingsbackend.moc"
