#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace ostrelle;

namespace {

const QString App = QStringLiteral("Ostrelle");
const QString Section = QStringLiteral("Settings");

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the file on disk holds, seen through a new backend on a copy of it: QSettings shares its
// parsed files within the process, so reading the same path again could show values never written.
struct DiskCopy
{
    explicit DiskCopy(const QString& iniPath)
    {
        QFile::copy(iniPath, dir.filePath(QStringLiteral("Ostrelle.ini")));
        backend = std::make_unique<QSettingsBackend>(dir.path());
    }
    QString get(const QString& key) { return backend->get(App, Section, key, QStringLiteral("<absent>")); }

    QTemporaryDir dir;
    std::unique_ptr<QSettingsBackend> backend;
};

QStringList serverNames(const ServerTable& table)
{
    QStringList names;
    for (int row = 1; row < table.Rows(); ++row)
        names << table.TextMatrix(row, ServerTable::ColServer);
    return names;
}

} // namespace

class TestQSettingsBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldKeepOneIniFilePerApplicationUnderConfigHome();
    void shouldRoundTripServerNamesThroughTableAndIniFile_data();
    void shouldRoundTripServerNamesThroughTableAndIniFile();
    void shouldReadHandEditedValues_data();
    void shouldReadHandEditedValues();
    void shouldSurviveGarbageFile_data();
    void shouldSurviveGarbageFile();
    void shouldReportUnwritableStoreAndWriteAllOnceWritable_data();
    void shouldReportUnwritableStoreAndWriteAllOnceWritable();

private:
    QTemporaryDir m_configHome;
};

void TestQSettingsBackend::initTestCase()
{
    QVERIFY(m_configHome.isValid());
    // Nothing in this test may touch the real user's configuration.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
}

void TestQSettingsBackend::shouldKeepOneIniFilePerApplicationUnderConfigHome()
{
    QCOMPARE(QSettingsBackend::defaultDirectory(), m_configHome.path() + QStringLiteral("/Brevikon"));

    QSettingsBackend backend;
    backend.save(App, Section, QStringLiteral("NtpPoll"), QStringLiteral(" 90"));
    backend.save(QStringLiteral("Other"), Section, QStringLiteral("NtpPoll"), QStringLiteral(" 30"));
    QString whyNot;
    QVERIFY2(backend.commit(&whyNot), qPrintable(whyNot));

    const QString ostrellePath = m_configHome.filePath(QStringLiteral("Brevikon/Ostrelle.ini"));
    const QString otherPath = m_configHome.filePath(QStringLiteral("Brevikon/Other.ini"));
    QCOMPARE(backend.filePath(App), ostrellePath);
    QCOMPARE(readFile(ostrellePath), QByteArray("[Settings]\nNtpPoll=\" 90\"\n"));
    QCOMPARE(readFile(otherPath), QByteArray("[Settings]\nNtpPoll=\" 30\"\n"));
    QCOMPARE(DiskCopy(ostrellePath).get(QStringLiteral("NtpPoll")), QStringLiteral(" 90"));
}

void TestQSettingsBackend::shouldRoundTripServerNamesThroughTableAndIniFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain host") << QStringLiteral("pool.example.org");
    QTest::newRow("tab inside") << QStringLiteral("ntp\tOK\t4");
    QTest::newRow("trailing blanks") << QStringLiteral("pool.example.org   ");
    QTest::newRow("leading blanks") << QStringLiteral("   pool.example.org");
    QTest::newRow("only blanks") << QStringLiteral("   ");
    QTest::newRow("equals sign") << QStringLiteral("key=value");
    QTest::newRow("semicolon") << QStringLiteral("a;b");
    QTest::newRow("hash") << QStringLiteral("#not a comment");
    QTest::newRow("double and single quotes") << QStringLiteral("\"quoted\" 'single'");
    QTest::newRow("newline and carriage return") << QStringLiteral("first\nsecond\rthird");
    QTest::newRow("backslash") << QStringLiteral("C:\\ntp\\server");
    QTest::newRow("comma and blank") << QStringLiteral("a, b");
    QTest::newRow("looks like a variant") << QStringLiteral("@Variant(garbage)");
    QTest::newRow("looks like a section") << QStringLiteral("[Settings]");
    QTest::newRow("non-ASCII letters") << QStringLiteral("zeit.zürich.ch ΩΣ 時計");
}

void TestQSettingsBackend::shouldRoundTripServerNamesThroughTableAndIniFile()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    ScriptedMessageDialog messages;
    ServerTable table;
    table.AddServerRow(name);
    table.AddServerRow(QStringLiteral("next.example.org"));
    {
        QSettingsBackend backend(dir.path());
        SettingsStore store(backend, messages);
        QVERIFY(store.SaveSettings(Settings{}, table));
    }

    DiskCopy disk(dir.filePath(QStringLiteral("Ostrelle.ini")));
    QCOMPARE(disk.get(QStringLiteral("NtpServer0001")), name);
    SettingsStore restarted(*disk.backend, messages);
    Settings settings;
    ServerTable loaded;
    restarted.LoadSettings(settings, loaded);
    QCOMPARE(serverNames(loaded), QStringList({name, QStringLiteral("next.example.org")}));
    QVERIFY(messages.shown.isEmpty());
}

void TestQSettingsBackend::shouldReadHandEditedValues_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unquoted comma list") << QByteArray("[Settings]\nNtpServer0001=a, b\n")
                                         << QStringLiteral("NtpServer0001") << QStringLiteral("a, b");
    QTest::newRow("written number form")
        << QByteArray("[Settings]\nNtpPoll=\" 90\"\n") << QStringLiteral("NtpPoll") << QStringLiteral(" 90");
    QTest::newRow("number without quotes")
        << QByteArray("[Settings]\nNtpPoll=90\n") << QStringLiteral("NtpPoll") << QStringLiteral("90");
    QTest::newRow("key in another section")
        << QByteArray("[General]\nNtpPoll=5\n") << QStringLiteral("NtpPoll") << QStringLiteral("<absent>");
    QTest::newRow("undecodable variant")
        << QByteArray("[Settings]\nNtpServer0001=@Variant(\\0\\0\\0\\x7f\\xff)\n")
        << QStringLiteral("NtpServer0001") << QStringLiteral("<absent>");
    QTest::newRow("empty value") << QByteArray("[Settings]\nNtpServer0002=\n")
                                 << QStringLiteral("NtpServer0002") << QString();
}

void TestQSettingsBackend::shouldReadHandEditedValues()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("Ostrelle.ini")), file));
    QSettingsBackend backend(dir.path());
    QCOMPARE(backend.get(App, Section, key, QStringLiteral("<absent>")), expected);
}

void TestQSettingsBackend::shouldSurviveGarbageFile_data()
{
    QTest::addColumn<QByteArray>("file");

    const QByteArray header("[Settings]\nNtpServerCnt=4\nNtpServer0001=@Variant(");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        QRandomGenerator random(seed);
        QByteArray bytes(4096, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random.bounded(256));
        QTest::addRow("random bytes, seed %u", seed) << bytes;
        QTest::addRow("settings then random bytes, seed %u", seed) << header + bytes;
    }
    QTest::newRow("invalid UTF-8 name")
        << QByteArray("[Settings]\nNtpServerCnt=1\nNtpServer0001=\xff\xfe\xc3\n");
    QTest::newRow("unterminated quote and section")
        << QByteArray("[Settings\nNtpServerCnt=\"2\nNtpServer0001=\"a\n[\n=\n");
    QTest::newRow("nul bytes") << QByteArray("[Settings]\nNtpServerCnt=2") + QByteArray(2, '\0') +
                                      "\nNtpServer0001=a" + QByteArray(1, '\0') + "b\n";
}

void TestQSettingsBackend::shouldSurviveGarbageFile()
{
    QFETCH(QByteArray, file);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Ostrelle.ini"));
    QVERIFY(writeFile(path, file));
    ScriptedMessageDialog messages;
    Settings settings;
    ServerTable table;
    {
        QSettingsBackend backend(dir.path());
        SettingsStore store(backend, messages);
        store.LoadSettings(settings, table);

        // Whatever was loaded, the store can be written over and is whole afterwards.
        table.AddServerRow(QStringLiteral("added.example.org"));
        QVERIFY(store.SaveSettings(settings, table));
    }
    QVERIFY(messages.shown.isEmpty());

    DiskCopy disk(path);
    ServerTable reloaded;
    Settings reloadedSettings;
    SettingsStore(*disk.backend, messages).LoadSettings(reloadedSettings, reloaded);
    QCOMPARE(reloadedSettings, settings);
    QCOMPARE(serverNames(reloaded), serverNames(table));
}

void TestQSettingsBackend::shouldReportUnwritableStoreAndWriteAllOnceWritable_data()
{
    QTest::addColumn<bool>("parentIsFile");
    QTest::addColumn<QString>("expectedCause");
    // As root a read-only file is still written, so the store is blocked by what is in its way.
    QTest::newRow("folder's parent is a regular file")
        << true << QStringLiteral("the folder cannot be created");
    QTest::newRow("a folder where the file belongs") << false << QStringLiteral("a folder is in the way");
}

void TestQSettingsBackend::shouldReportUnwritableStoreAndWriteAllOnceWritable()
{
    QFETCH(bool, parentIsFile);
    QFETCH(QString, expectedCause);

    QTemporaryDir root;
    const QString blocker = root.filePath(QStringLiteral("blocker"));
    const QString directory = parentIsFile ? blocker + QStringLiteral("/Brevikon") : root.path();
    const QString path = directory + QStringLiteral("/Ostrelle.ini");
    if (parentIsFile)
        QVERIFY(writeFile(blocker, "not a folder"));
    else
        QVERIFY(QDir().mkpath(path));

    QSettingsBackend backend(directory);
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    ServerTable table;
    Settings settings;
    store.LoadSettings(settings, table);
    table.AddServerRow(QStringLiteral("alpha"));
    table.AddServerRow(QStringLiteral("bravo"));
    settings.NtpPoll = 300;

    QVERIFY(!store.SaveSettings(settings, table));
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageDialog::Shown& shown = messages.shown.first();
    QCOMPARE(shown.title, QStringLiteral("Brevikon Ostrelle"));
    QCOMPARE(shown.icon, MessageDialog::Icon::Warning);
    QVERIFY2(shown.text.contains(QStringLiteral("could not be saved")), qPrintable(shown.text));
    QVERIFY2(shown.text.contains(QDir::toNativeSeparators(path)), qPrintable(shown.text));
    QVERIFY2(shown.text.contains(expectedCause), qPrintable(shown.text));
    QCOMPARE(serverNames(table), QStringList({QStringLiteral("alpha"), QStringLiteral("bravo")}));
    QCOMPARE(settings.NtpPoll, 300);
    QVERIFY(!QFileInfo(path).isFile());

    if (parentIsFile)
        QVERIFY(QFile::remove(blocker));
    else
        QVERIFY(QDir(path).removeRecursively());

    // What failed to reach the file is still staged: a commit with nothing new writes it all.
    QString whyNot;
    QVERIFY2(backend.commit(&whyNot), qPrintable(whyNot));
    {
        DiskCopy disk(path);
        QCOMPARE(disk.get(QStringLiteral("NtpPoll")), QStringLiteral(" 300"));
        QCOMPARE(disk.get(QStringLiteral("NtpServerCnt")), QStringLiteral(" 2"));
        QCOMPARE(disk.get(QStringLiteral("NtpServer0001")), QStringLiteral("alpha"));
        QCOMPARE(disk.get(QStringLiteral("NtpServer0002")), QStringLiteral("bravo"));
    }

    table.AddServerRow(QStringLiteral("charlie"));
    QVERIFY(store.SaveSettings(settings, table));
    QCOMPARE(messages.shown.size(), 1);
    DiskCopy disk(path);
    QCOMPARE(disk.get(QStringLiteral("NtpServerCnt")), QStringLiteral(" 3"));
    QCOMPARE(disk.get(QStringLiteral("NtpServer0003")), QStringLiteral("charlie"));
}

QTEST_GUILESS_MAIN(TestQSettingsBackend)
#include "test_qsettingsbackend.moc"
