#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"

#include <QTest>
#include <limits>

using namespace ostrelle;

namespace {

const QString Section = QStringLiteral("Settings");

QStringList serverNames(const ServerTable& table)
{
    QStringList names;
    for (int row = 1; row < table.Rows(); ++row)
        names << table.TextMatrix(row, ServerTable::ColServer);
    return names;
}

QString storedText(const MemorySettingsBackend& backend, const QString& key)
{
    return backend.stored(Section, key).value_or(QStringLiteral("<absent>"));
}

// A fresh start of the program on the same store: defaults, then LoadSettings into an empty table.
struct Restart
{
    explicit Restart(MemorySettingsBackend& backend)
    {
        SettingsStore store(backend, messages);
        store.LoadSettings(settings, table);
    }
    ScriptedMessageDialog messages;
    Settings settings;
    ServerTable table;
};

} // namespace

namespace ostrelle {
char* toString(const Settings& s)
{
    return QTest::toString(
        QStringLiteral("SysTimeAdj %1, NtpPoll %2, RefTimeHighlight %3, StratumHighlight %4")
            .arg(s.SysTimeAdj)
            .arg(s.NtpPoll)
            .arg(s.RefTimeHighlight)
            .arg(s.StratumHighlight));
}
} // namespace ostrelle

Q_DECLARE_METATYPE(ostrelle::Settings)

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void shouldWriteNumberText_data();
    void shouldWriteNumberText();
    void shouldReadNumberAtStartOfText_data();
    void shouldReadNumberAtStartOfText();
    void shouldRoundHalvesToEvenThenSaturate_data();
    void shouldRoundHalvesToEvenThenSaturate();
    void shouldNameServerKeysWithAtLeastFourDigits_data();
    void shouldNameServerKeysWithAtLeastFourDigits();

    void shouldLoadDefaultsOnFirstRun();
    void shouldLoadStoredSettingsWithoutRangeChecks_data();
    void shouldLoadStoredSettingsWithoutRangeChecks();
    void shouldSaveServersInTableOrder();
    void shouldLeaveKeysAboveShorterListUntouched();
    void shouldWriteMinusOneForEmptyTable();
    void shouldSkipEmptyEntriesAndRenumberOnSave_data();
    void shouldSkipEmptyEntriesAndRenumberOnSave();
    void shouldLoadNoServersForCountBelowOne_data();
    void shouldLoadNoServersForCountBelowOne();
    void shouldStopServerCountAtSixteenBitLimit();
    void shouldReportUnwritableStoreAndWriteAllOnNextSave();
};

void TestSettingsStore::shouldWriteNumberText_data()
{
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("poll interval") << 60LL << QStringLiteral(" 60");
    QTest::newRow("zero") << 0LL << QStringLiteral(" 0");
    QTest::newRow("empty table count") << -1LL << QStringLiteral("-1");
    QTest::newRow("16-bit minimum") << -32768LL << QStringLiteral("-32768");
    QTest::newRow("32-bit maximum") << 2147483647LL << QStringLiteral(" 2147483647");
}

void TestSettingsStore::shouldWriteNumberText()
{
    QFETCH(qlonglong, value);
    QFETCH(QString, expected);
    QCOMPARE(NumberText(value), expected);
}

void TestSettingsStore::shouldReadNumberAtStartOfText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("written form") << QStringLiteral(" 90") << 90.0;
    QTest::newRow("without the blank") << QStringLiteral("90") << 90.0;
    QTest::newRow("several leading blanks and a tab") << QStringLiteral("  \t 12") << 12.0;
    QTest::newRow("negative") << QStringLiteral("-1") << -1.0;
    QTest::newRow("plus sign") << QStringLiteral("+7") << 7.0;
    QTest::newRow("fraction") << QStringLiteral("2.5") << 2.5;
    QTest::newRow("negative fraction") << QStringLiteral("-3.25") << -3.25;
    QTest::newRow("fraction only") << QStringLiteral(".5") << 0.5;
    QTest::newRow("point without fraction") << QStringLiteral("5.") << 5.0;
    QTest::newRow("letters after digits end it") << QStringLiteral("12abc") << 12.0;
    QTest::newRow("blank between digits ends it") << QStringLiteral("12 34") << 12.0;
    QTest::newRow("second point ends it") << QStringLiteral("1.2.3") << 1.2;
    QTest::newRow("exponent not read") << QStringLiteral("1e3") << 1.0;
    QTest::newRow("hex prefix not read") << QStringLiteral("0x1F") << 0.0;
    QTest::newRow("comma is not a decimal point") << QStringLiteral("2,5") << 2.0;
    QTest::newRow("letters") << QStringLiteral("sixty") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("sign alone") << QStringLiteral("-") << 0.0;
    QTest::newRow("point alone") << QStringLiteral(".") << 0.0;
    QTest::newRow("two signs") << QStringLiteral("--5") << 0.0;
    QTest::newRow("blank after sign") << QStringLiteral("- 5") << 0.0;
    QTest::newRow("non-ASCII digits") << QStringLiteral("١٢") << 0.0;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << 0.0;
    QTest::newRow("Unicode minus") << QStringLiteral("−5") << 0.0;
}

void TestSettingsStore::shouldReadNumberAtStartOfText()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(ReadNumber(text), expected);
}

void TestSettingsStore::shouldRoundHalvesToEvenThenSaturate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected16");
    QTest::addColumn<int>("expected32");

    constexpr int min16 = std::numeric_limits<std::int16_t>::min();
    constexpr int max16 = std::numeric_limits<std::int16_t>::max();
    constexpr int min32 = std::numeric_limits<std::int32_t>::min();
    constexpr int max32 = std::numeric_limits<std::int32_t>::max();
    const QString manyNines(400, QLatin1Char('9'));

    QTest::newRow("2.5 down to even") << QStringLiteral("2.5") << 2 << 2;
    QTest::newRow("3.5 up to even") << QStringLiteral("3.5") << 4 << 4;
    QTest::newRow("0.5 down to zero") << QStringLiteral("0.5") << 0 << 0;
    QTest::newRow("-2.5 up to even") << QStringLiteral("-2.5") << -2 << -2;
    QTest::newRow("-3.5 down to even") << QStringLiteral("-3.5") << -4 << -4;
    QTest::newRow("below a half") << QStringLiteral("2.4999") << 2 << 2;
    QTest::newRow("above a half") << QStringLiteral("2.5001") << 3 << 3;
    QTest::newRow("16-bit maximum") << QStringLiteral("32767") << max16 << max16;
    QTest::newRow("just past 16 bits") << QStringLiteral("32768") << max16 << 32768;
    QTest::newRow("half rounding past 16 bits") << QStringLiteral("32767.5") << max16 << 32768;
    QTest::newRow("huge count") << QStringLiteral("99999999") << max16 << 99999999;
    QTest::newRow("huge negative count") << QStringLiteral("-99999999") << min16 << -99999999;
    QTest::newRow("32-bit maximum") << QStringLiteral("2147483647") << max16 << max32;
    QTest::newRow("just past 32 bits") << QStringLiteral("2147483648") << max16 << max32;
    QTest::newRow("just below 32 bits") << QStringLiteral("-2147483649") << min16 << min32;
    QTest::newRow("four hundred nines") << manyNines << max16 << max32;
    QTest::newRow("minus four hundred nines") << (QLatin1Char('-') + manyNines) << min16 << min32;
    QTest::newRow("tiny fraction") << (QStringLiteral("0.") + QString(400, QLatin1Char('0')) +
                                       QLatin1Char('1'))
                                   << 0 << 0;
}

void TestSettingsStore::shouldRoundHalvesToEvenThenSaturate()
{
    QFETCH(QString, text);
    QFETCH(int, expected16);
    QFETCH(int, expected32);
    QCOMPARE(int(ReadInt16(text)), expected16);
    QCOMPARE(int(ReadInt32(text)), expected32);
}

void TestSettingsStore::shouldNameServerKeysWithAtLeastFourDigits_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first") << 1 << QStringLiteral("NtpServer0001");
    QTest::newRow("twelfth") << 12 << QStringLiteral("NtpServer0012");
    QTest::newRow("last with four digits") << 9999 << QStringLiteral("NtpServer9999");
    QTest::newRow("five digits") << 10000 << QStringLiteral("NtpServer10000");
}

void TestSettingsStore::shouldNameServerKeysWithAtLeastFourDigits()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(ServerKey(index), expected);
}

void TestSettingsStore::shouldLoadDefaultsOnFirstRun()
{
    MemorySettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    Settings settings{1, 300, 1200, 3};
    ServerTable table;

    store.LoadSettings(settings, table);

    QCOMPARE(settings.SysTimeAdj, 0);
    QCOMPARE(settings.NtpPoll, 60);
    QCOMPARE(settings.RefTimeHighlight, 600);
    QCOMPARE(settings.StratumHighlight, 15);
    QCOMPARE(table.Rows(), 0);
    QCOMPARE(backend.size(), 0);
    QVERIFY(messages.shown.isEmpty());
}

void TestSettingsStore::shouldLoadStoredSettingsWithoutRangeChecks_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Settings>("expected");

    const Settings defaults;
    const auto with = [&](auto member, auto value) {
        Settings s = defaults;
        s.*member = value;
        return s;
    };
    QTest::newRow("poll of 90 seconds")
        << QStringLiteral("NtpPoll") << QStringLiteral(" 90") << with(&Settings::NtpPoll, 90);
    QTest::newRow("poll without the blank")
        << QStringLiteral("NtpPoll") << QStringLiteral("90") << with(&Settings::NtpPoll, 90);
    QTest::newRow("poll of letters") << QStringLiteral("NtpPoll") << QStringLiteral("soon")
                                     << with(&Settings::NtpPoll, 0);
    QTest::newRow("negative poll kept")
        << QStringLiteral("NtpPoll") << QStringLiteral("-5") << with(&Settings::NtpPoll, -5);
    QTest::newRow("adjustment on") << QStringLiteral("SysTimeAdj") << QStringLiteral(" 1")
                                   << with(&Settings::SysTimeAdj, std::int16_t(1));
    QTest::newRow("adjustment flag of 7") << QStringLiteral("SysTimeAdj") << QStringLiteral(" 7")
                                          << with(&Settings::SysTimeAdj, std::int16_t(7));
    QTest::newRow("stratum 2.5") << QStringLiteral("StratumHighlight") << QStringLiteral("2.5")
                                 << with(&Settings::StratumHighlight, std::int16_t(2));
    QTest::newRow("stratum 3.5") << QStringLiteral("StratumHighlight") << QStringLiteral("3.5")
                                 << with(&Settings::StratumHighlight, std::int16_t(4));
    QTest::newRow("stratum beyond 16 bits") << QStringLiteral("StratumHighlight") << QStringLiteral("40000")
                                            << with(&Settings::StratumHighlight, std::int16_t(32767));
    QTest::newRow("lag threshold beyond 32 bits")
        << QStringLiteral("RefTimeHighlight") << QStringLiteral("5000000000")
        << with(&Settings::RefTimeHighlight, 2147483647);
}

void TestSettingsStore::shouldLoadStoredSettingsWithoutRangeChecks()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(Settings, expected);

    MemorySettingsBackend backend;
    backend.seed(Section, key, text);
    Restart run(backend);
    QCOMPARE(run.settings, expected);
}

void TestSettingsStore::shouldSaveServersInTableOrder()
{
    MemorySettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    ServerTable table;
    for (const char* name : {"time.example.net", "10.0.0.1", "ntp.example.org"})
        table.AddServerRow(QString::fromLatin1(name));

    QVERIFY(store.SaveSettings(Settings{}, table));

    QCOMPARE(storedText(backend, "SysTimeAdj"), QStringLiteral(" 0"));
    QCOMPARE(storedText(backend, "NtpPoll"), QStringLiteral(" 60"));
    QCOMPARE(storedText(backend, "RefTimeHighlight"), QStringLiteral(" 600"));
    QCOMPARE(storedText(backend, "StratumHighlight"), QStringLiteral(" 15"));
    QCOMPARE(storedText(backend, "NtpServerCnt"), QStringLiteral(" 3"));
    QCOMPARE(storedText(backend, "NtpServer0001"), QStringLiteral("time.example.net"));
    QCOMPARE(storedText(backend, "NtpServer0002"), QStringLiteral("10.0.0.1"));
    QCOMPARE(storedText(backend, "NtpServer0003"), QStringLiteral("ntp.example.org"));
    QCOMPARE(backend.size(), 8);
    QCOMPARE(backend.commitCount, 1);
    QVERIFY(messages.shown.isEmpty());

    Restart run(backend);
    QCOMPARE(serverNames(run.table), serverNames(table));
}

void TestSettingsStore::shouldLeaveKeysAboveShorterListUntouched()
{
    MemorySettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    ServerTable table;
    for (const char* name : {"alpha", "bravo", "charlie"})
        table.AddServerRow(QString::fromLatin1(name));
    QVERIFY(store.SaveSettings(Settings{}, table));

    table.RemoveItem(2);
    QVERIFY(store.SaveSettings(Settings{}, table));

    QCOMPARE(storedText(backend, "NtpServerCnt"), QStringLiteral(" 2"));
    QCOMPARE(storedText(backend, "NtpServer0001"), QStringLiteral("alpha"));
    QCOMPARE(storedText(backend, "NtpServer0002"), QStringLiteral("charlie"));
    QCOMPARE(storedText(backend, "NtpServer0003"), QStringLiteral("charlie"));

    Restart run(backend);
    QCOMPARE(serverNames(run.table), QStringList({QStringLiteral("alpha"), QStringLiteral("charlie")}));
}

void TestSettingsStore::shouldWriteMinusOneForEmptyTable()
{
    MemorySettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    ServerTable table;
    for (const char* name : {"alpha", "bravo", "charlie"})
        table.AddServerRow(QString::fromLatin1(name));
    QVERIFY(store.SaveSettings(Settings{}, table));

    table.Clear();
    table.RemoveAllRows();
    QVERIFY(store.SaveSettings(Settings{}, table));

    QCOMPARE(storedText(backend, "NtpServerCnt"), QStringLiteral("-1"));
    QCOMPARE(storedText(backend, "NtpServer0003"), QStringLiteral("charlie"));
    Restart run(backend);
    QCOMPARE(run.table.Rows(), 0);
}

void TestSettingsStore::shouldSkipEmptyEntriesAndRenumberOnSave_data()
{
    QTest::addColumn<bool>("secondPresentButEmpty");
    QTest::newRow("second entry empty") << true;
    QTest::newRow("second entry absent") << false;
}

void TestSettingsStore::shouldSkipEmptyEntriesAndRenumberOnSave()
{
    QFETCH(bool, secondPresentButEmpty);

    MemorySettingsBackend backend;
    backend.seed(Section, "NtpServerCnt", " 3");
    backend.seed(Section, "NtpServer0001", "alpha");
    if (secondPresentButEmpty)
        backend.seed(Section, "NtpServer0002", "");
    backend.seed(Section, "NtpServer0003", "charlie");

    Restart run(backend);
    QCOMPARE(run.table.Rows(), 3);
    QCOMPARE(serverNames(run.table), QStringList({QStringLiteral("alpha"), QStringLiteral("charlie")}));

    SettingsStore store(backend, run.messages);
    QVERIFY(store.SaveSettings(run.settings, run.table));
    QCOMPARE(storedText(backend, "NtpServerCnt"), QStringLiteral(" 2"));
    QCOMPARE(storedText(backend, "NtpServer0001"), QStringLiteral("alpha"));
    QCOMPARE(storedText(backend, "NtpServer0002"), QStringLiteral("charlie"));
}

void TestSettingsStore::shouldLoadNoServersForCountBelowOne_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("zero") << QStringLiteral(" 0");
    QTest::newRow("empty table marker") << QStringLiteral("-1");
    QTest::newRow("a half rounds to zero") << QStringLiteral("0.5");
    QTest::newRow("letters") << QStringLiteral("three");
    QTest::newRow("huge negative") << QStringLiteral("-99999999");
}

void TestSettingsStore::shouldLoadNoServersForCountBelowOne()
{
    QFETCH(QString, count);
    MemorySettingsBackend backend;
    backend.seed(Section, "NtpServerCnt", count);
    backend.seed(Section, "NtpServer0001", "alpha");
    Restart run(backend);
    QCOMPARE(run.table.Rows(), 0);
}

void TestSettingsStore::shouldStopServerCountAtSixteenBitLimit()
{
    // Held in 16 bits without saturating, 99999999 would wrap to a negative count and load nothing.
    MemorySettingsBackend backend;
    backend.seed(Section, "NtpServerCnt", "99999999");
    backend.seed(Section, "NtpServer0001", "alpha");
    backend.seed(Section, "NtpServer32767", "last");
    backend.seed(Section, "NtpServer32768", "beyond");

    Restart run(backend);
    QCOMPARE(serverNames(run.table), QStringList({QStringLiteral("alpha"), QStringLiteral("last")}));
    QCOMPARE(backend.getCount, 5 + 32767);
}

void TestSettingsStore::shouldReportUnwritableStoreAndWriteAllOnNextSave()
{
    MemorySettingsBackend backend;
    backend.seed(Section, "NtpServerCnt", " 1");
    backend.seed(Section, "NtpServer0001", "old");
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    ServerTable table;
    table.AddServerRow(QStringLiteral("alpha"));
    table.AddServerRow(QStringLiteral("bravo"));
    const Settings settings{1, 120, 900, 4};

    backend.failCommit = true;
    backend.failReason = QStringLiteral("/nowhere/Brevikon/Ostrelle.ini: the folder cannot be created");
    QVERIFY(!store.SaveSettings(settings, table));

    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageDialog::Shown& shown = messages.shown.first();
    QCOMPARE(shown.title, QStringLiteral("Brevikon Ostrelle"));
    QCOMPARE(shown.icon, MessageDialog::Icon::Warning);
    QCOMPARE(shown.buttons, MessageDialog::Buttons::Ok);
    QVERIFY2(shown.text.contains(QStringLiteral("could not be saved")), qPrintable(shown.text));
    QVERIFY2(shown.text.contains(backend.failReason), qPrintable(shown.text));
    QCOMPARE(storedText(backend, "NtpServerCnt"), QStringLiteral(" 1"));
    QCOMPARE(storedText(backend, "NtpServer0001"), QStringLiteral("old"));
    QCOMPARE(serverNames(table), QStringList({QStringLiteral("alpha"), QStringLiteral("bravo")}));
    QCOMPARE(table.Row(), 2);

    backend.failCommit = false;
    QVERIFY(store.SaveSettings(settings, table));
    QCOMPARE(messages.shown.size(), 1);
    Restart run(backend);
    QCOMPARE(run.settings, settings);
    QCOMPARE(serverNames(run.table), serverNames(table));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
