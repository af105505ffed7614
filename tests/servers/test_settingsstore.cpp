#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/servertable.h"
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
    return QString::asprintf("%d %d %d %d", s.SysTimeAdj, s.NtpPoll, s.RefTimeHighlight, s.StratumHighlight);
}

// One start of the program on the store: LoadSettings into settings that are not the defaults.
struct Program
{
    explicit Program(MemorySettingsBackend& b) : store(b, messages) { store.LoadSettings(settings, table); }
    QStringList servers() const
    {
        QStringList names;
        for (int row = 1; row < table.Rows(); ++row)
            names << table.TextMatrix(row, ServerTable::ColServer);
        return names;
    }
    bool save() { return store.SaveSettings(settings, table); }

    ScriptedMessageDialog messages;
    SettingsStore store;
    Settings settings{1, 300, 1200, 3};
    ServerTable table;
};

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadNumberThenRoundHalvesToEvenAndSaturate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("int16");
        QTest::addColumn<int>("int32");
        QTest::newRow("written form") << " 90" << 90 << 90;
        QTest::newRow("exponent not read") << "1e3" << 1 << 1;
        QTest::newRow("hex prefix not read") << "0x1F" << 0 << 0;
        QTest::newRow("empty") << "" << 0 << 0;
        QTest::newRow("non-ASCII digits") << "١٢" << 0 << 0;
        QTest::newRow("2.5 down to even") << "2.5" << 2 << 2;
        QTest::newRow("3.5 up to even") << "3.5" << 4 << 4;
        QTest::newRow("-2.5 up to even") << "-2.5" << -2 << -2;
        QTest::newRow("above a half") << "2.5001" << 3 << 3;
        QTest::newRow("just past 16 bits") << "32768" << 32767 << 32768;
        QTest::newRow("just past 32 bits") << "2147483648" << 32767 << 2147483647;
        QTest::newRow("just below 32 bits") << "-2147483649" << -32768 << int(-2147483648);
        QTest::newRow("four hundred nines") << QString(400, QLatin1Char('9')) << 32767 << 2147483647;
        QTest::newRow("tiny fraction") << "0." + QString(400, QLatin1Char('0')) + "1" << 0 << 0;
    }
    void shouldReadNumberThenRoundHalvesToEvenAndSaturate()
    {
        QFETCH(QString, text);
        QFETCH(int, int16);
        QFETCH(int, int32);
        QCOMPARE(int(ReadInt16(text)), int16);
        QCOMPARE(int(ReadInt32(text)), int32);
    }

    void shouldLoadWhatIsStoredWithoutRangeChecks_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("settings"); // SysTimeAdj NtpPoll RefTimeHighlight StratumHighlight
        QTest::addColumn<QStringList>("servers");
        const QString defaults = QStringLiteral("0 60 600 15");
        // clang-format off
        QTest::newRow("nothing stored: defaults")      << "Unknown"          << " 9"         << defaults             << QStringList();
        QTest::newRow("poll of 90 seconds")            << "NtpPoll"          << " 90"        << "0 90 600 15"        << QStringList();
        QTest::newRow("negative poll kept")            << "NtpPoll"          << "-5"         << "0 -5 600 15"        << QStringList();
        QTest::newRow("adjustment flag of 7")          << "SysTimeAdj"       << " 7"         << "7 60 600 15"        << QStringList();
        QTest::newRow("stratum beyond 16 bits")        << "StratumHighlight" << "40000"      << "0 60 600 32767"     << QStringList();
        QTest::newRow("reference time beyond 32 bits") << "RefTimeHighlight" << "5000000000" << "0 60 2147483647 15" << QStringList();
        QTest::newRow("keys above the count unread")   << "NtpServerCnt"     << " 1"         << defaults             << QStringList{"alpha"};
        QTest::newRow("huge count stops at 32767")     << "NtpServerCnt"     << "99999999"   << defaults             << QStringList{"alpha", "last"};
        // clang-format on
    }
    void shouldLoadWhatIsStoredWithoutRangeChecks()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(QString, settings);
        QFETCH(QStringList, servers);
        MemorySettingsBackend backend;
        backend.seed(Section, key, text);
        backend.seed(Section, "NtpServer0001", "alpha");
        backend.seed(Section, "NtpServer32767", "last");
        backend.seed(Section, "NtpServer32768", "beyond");
        const Program program(backend);
        QCOMPARE(textOf(program.settings), settings);
        QCOMPARE(program.servers(), servers);
    }

    void shouldSaveServersInTableOrderAndRenumber()
    {
        MemorySettingsBackend backend;
        backend.seed(Section, "NtpServerCnt", " 3");
        backend.seed(Section, "NtpServer0001", "alpha");
        backend.seed(Section, "NtpServer0003", "charlie");
        Program program(backend);
        QCOMPARE(program.servers(), QStringList({"alpha", "charlie"}));
        program.table.AddServerRow(QStringLiteral("bravo"));
        QVERIFY(program.save());
        QCOMPARE(stored(backend, SettingKeys + ServerKeys),
                 QStringList({" 0", " 60", " 600", " 15", " 3", "alpha", "charlie", "bravo"}));
        QCOMPARE(backend.size(), 8);
        QCOMPARE(ServerKey(9999), QStringLiteral("NtpServer9999"));
        QCOMPARE(ServerKey(10000), QStringLiteral("NtpServer10000"));

        program.table.RemoveItem(2);
        QVERIFY(program.save());
        QCOMPARE(stored(backend, ServerKeys), QStringList({" 2", "alpha", "bravo", "bravo"}));
        QCOMPARE(Program(backend).servers(), QStringList({"alpha", "bravo"}));

        program.table.Clear();
        program.table.RemoveAllRows();
        QVERIFY(program.save());
        QCOMPARE(stored(backend, ServerKeys), QStringList({"-1", "alpha", "bravo", "bravo"}));
        QCOMPARE(Program(backend).table.Rows(), 0);
    }

    void shouldReportUnwritableStoreAndWriteAllOnNextSave()
    {
        MemorySettingsBackend backend;
        Program program(backend);
        program.table.AddServerRow(QStringLiteral("alpha"));
        program.settings = Settings{1, 120, 900, 4};

        backend.failCommit = true;
        QVERIFY(!program.save());
        QCOMPARE(program.messages.shown.size(), 1);
        QCOMPARE(program.messages.shown.first().text,
                 "The settings could not be saved.\n\n" + backend.failReason);
        QCOMPARE(program.messages.shown.first().title, QStringLiteral("Brevikon Ostrelle"));
        QCOMPARE(program.messages.shown.first().icon, MessageDialog::Icon::Warning);
        QCOMPARE(program.servers(), QStringList({"alpha"}));

        backend.failCommit = false;
        QVERIFY(program.save());
        QCOMPARE(program.messages.shown.size(), 1);
        const Program restarted(backend);
        QCOMPARE(textOf(restarted.settings), QStringLiteral("1 120 900 4"));
        QCOMPARE(restarted.servers(), program.servers());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
