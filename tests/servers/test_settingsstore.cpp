#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/settingsstore.h"

#include <QTest>

using namespace ostrelle;

namespace {

const QString Section = QStringLiteral("Settings");
const QStringList SettingKeys = {"SysTimeAdj", "NtpPoll", "RefTimeHighlight", "StratumHighlight"};
const QStringList ServerKeys = {"NtpServerCnt", "NtpServer0001", "NtpServer0002", "NtpServer0003"};

// The committed texts of the keys, "-" for an absent one.
QStringList stored(const MemorySettingsBackend& backend, const QStringList& keys)
{
    QStringList texts;
    for (const QString& key : keys)
        texts << backend.stored(Section, key).value_or(QStringLiteral("-"));
    return texts;
}

QString textOf(const Settings& s)
{
    return QString::asprintf("%d %d %d %d", int(s.adjustClock), s.pollIntervalSeconds,
                             s.referenceAgeLimitSeconds, s.stratumLimit);
}

QString serverKey(int index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

// One start of the program on the store.
struct Program
{
    explicit Program(MemorySettingsBackend& b) : store(b, messages)
    {
        const StoredState state = store.loadSettings();
        settings = state.settings;
        servers = state.servers;
    }
    bool save() { return store.saveSettings(settings, servers); }

    ScriptedMessageDialog messages;
    SettingsStore store;
    Settings settings;
    QStringList servers;
};

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadNumberThenRoundHalvesToEvenAndClamp_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("read"); // within -1000 .. 1000
        QTest::newRow("written form") << " 90" << 90;
        QTest::newRow("exponent not read") << "1e3" << 1;
        QTest::newRow("hex prefix not read") << "0x1F" << 0;
        QTest::newRow("non-ASCII digits") << "١٢" << 0;
        QTest::newRow("2.5 down to even") << "2.5" << 2;
        QTest::newRow("-2.5 up to even") << "-2.5" << -2;
        QTest::newRow("above a half") << "2.5001" << 3;
        QTest::newRow("INT_MIN") << "-2147483648" << -1000;
        QTest::newRow("four hundred nines") << QString(400, QLatin1Char('9')) << 1000;
        QTest::newRow("tiny fraction") << "0." + QString(400, QLatin1Char('0')) + "1" << 0;
    }
    void shouldReadNumberThenRoundHalvesToEvenAndClamp()
    {
        QFETCH(QString, text);
        QTEST(ReadClamped(text, -1000, 1000), "read");
    }

    void shouldLoadEveryNumberIntoTheRangeOptionsCanShow_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("settings"); // adjust, poll, reference age, stratum limit
        const QString defaults = QStringLiteral("0 60 600 15");
        // clang-format off
        QTest::newRow("nothing stored: defaults")  << "Unknown"          << " 9"          << defaults;
        QTest::newRow("poll of 90 seconds kept")   << "NtpPoll"          << " 90"         << "0 90 600 15";
        QTest::newRow("poll INT_MAX")              << "NtpPoll"          << "2147483647"  << "0 3600 600 15";
        QTest::newRow("poll in letters")           << "NtpPoll"          << "often"       << "0 60 600 15";
        QTest::newRow("reference age INT_MIN")     << "RefTimeHighlight" << "-2147483648" << "0 60 120 15";
        QTest::newRow("reference age beyond")      << "RefTimeHighlight" << "5000000000"  << "0 60 3600 15";
        QTest::newRow("stratum limit negative")    << "StratumHighlight" << "-1"          << "0 60 600 0";
        QTest::newRow("stratum limit INT_MAX")     << "StratumHighlight" << "2147483647"  << "0 60 600 15";
        QTest::newRow("adjustment 1")              << "SysTimeAdj"       << " 1"          << "1 60 600 15";
        QTest::newRow("adjustment 7 is not on")    << "SysTimeAdj"       << " 7"          << defaults;
        // clang-format on
    }
    void shouldLoadEveryNumberIntoTheRangeOptionsCanShow()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        MemorySettingsBackend backend;
        backend.seed(Section, key, text);
        QTEST(textOf(Program(backend).settings), "settings");
    }

    // Beyond both 16-bit limits.
    void shouldReadAndSaveEveryStoredServer()
    {
        const int count = 100000;
        MemorySettingsBackend backend;
        backend.seed(Section, "NtpServerCnt", NumberText(count));
        for (int i = 1; i <= count; ++i)
            backend.seed(Section, serverKey(i), QString::number(i));
        Program program(backend);
        QCOMPARE(program.servers.size(), count);
        QCOMPARE(program.servers.last(), QString::number(count));
        QVERIFY(program.save());
        QCOMPARE(stored(backend, {"NtpServerCnt"}), QStringList{NumberText(count)});
        QCOMPARE(Program(backend).servers, program.servers);
    }

    void shouldReadOnlyStoredKeysWhateverTheCount()
    {
        MemorySettingsBackend backend;
        backend.seed(Section, "NtpServerCnt", "2147483647");
        backend.seed(Section, "NtpServer0002", "bravo");
        backend.seed(Section, "NtpServer0001", "alpha");
        backend.seed(Section, "NtpServer1", "not a key the program writes");
        const int before = backend.getCount;
        QCOMPARE(Program(backend).servers, QStringList({"alpha", "bravo"}));
        QVERIFY(backend.getCount - before < 20);
    }

    void shouldKeepBlankAndOverlongNamesInTheStore()
    {
        MemorySettingsBackend backend;
        const QString huge(10 * 1024 * 1024, u'n');
        backend.seed(Section, "NtpServerCnt", " 3");
        backend.seed(Section, "NtpServer0001", "   ");
        backend.seed(Section, "NtpServer0002", huge);
        backend.seed(Section, "NtpServer0003", "alpha");
        Program program(backend);
        QVERIFY(program.save());
        QCOMPARE(Program(backend).servers, QStringList({"   ", huge, "alpha"}));
    }

    void shouldSaveServersInTableOrderAndRenumber()
    {
        MemorySettingsBackend backend;
        backend.seed(Section, "NtpServerCnt", " 3");
        backend.seed(Section, "NtpServer0001", "alpha");
        backend.seed(Section, "NtpServer0003", "charlie");
        Program program(backend);
        QCOMPARE(program.servers, QStringList({"alpha", "charlie"}));
        program.servers.append(QStringLiteral("bravo"));
        QVERIFY(program.save());
        QCOMPARE(stored(backend, SettingKeys + ServerKeys),
                 QStringList({" 0", " 60", " 600", " 15", " 3", "alpha", "charlie", "bravo"}));
        // And the desktop's two switches.
        QCOMPARE(backend.size(), 10);

        program.servers.removeAt(1);
        QVERIFY(program.save());
        QCOMPARE(stored(backend, ServerKeys), QStringList({" 2", "alpha", "bravo", "bravo"}));
        QCOMPARE(Program(backend).servers, QStringList({"alpha", "bravo"}));

        program.servers.clear();
        QVERIFY(program.save());
        QCOMPARE(stored(backend, ServerKeys), QStringList({"-1", "alpha", "bravo", "bravo"}));
        QVERIFY(Program(backend).servers.isEmpty());
    }

    void shouldReportUnwritableStoreAndWriteAllOnNextSave()
    {
        MemorySettingsBackend backend;
        Program program(backend);
        program.servers.append(QStringLiteral("alpha"));
        program.settings = Settings{true, 120, 900, 4};

        backend.failCommit = true;
        QVERIFY(!program.save());
        QCOMPARE(program.messages.shown.size(), 1);
        QCOMPARE(program.messages.shown.first().text,
                 "The settings could not be saved.\n\n" + backend.failReason);
        QCOMPARE(program.servers, QStringList({"alpha"}));

        backend.failCommit = false;
        QVERIFY(program.save());
        QCOMPARE(program.messages.shown.size(), 1);
        const Program restarted(backend);
        QCOMPARE(textOf(restarted.settings), QStringLiteral("1 120 900 4"));
        QCOMPARE(restarted.servers, program.servers);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
