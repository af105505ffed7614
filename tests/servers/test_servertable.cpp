#include "servers/servertable.h"

#include <QStringList>
#include <QTest>
#include <functional>

using namespace ostrelle;

namespace {

// Writes every observer call down as one line, so a test can compare the whole sequence.
class RecordingObserver final : public ServerTableObserver
{
public:
    void rowsAboutToBeInserted(int first, int last) override
    {
        events << QStringLiteral("aboutToInsert %1 %2").arg(first).arg(last);
    }
    void rowsInserted() override { events << QStringLiteral("inserted"); }
    void rowsAboutToBeRemoved(int first, int last) override
    {
        events << QStringLiteral("aboutToRemove %1 %2").arg(first).arg(last);
    }
    void rowsRemoved() override { events << QStringLiteral("removed"); }
    void cellsChanged(int row, int firstColumn, int lastColumn) override
    {
        events << QStringLiteral("cells %1 %2 %3").arg(row).arg(firstColumn).arg(lastColumn);
    }
    void currentRowChanged(int row) override { events << QStringLiteral("current %1").arg(row); }

    QStringList events;
};

using TableAction = std::function<void(ServerTable&)>;

void addServers(ServerTable& table, const QStringList& names)
{
    for (const QString& name : names)
        table.AddServerRow(name);
}

QStringList serverNames(const ServerTable& table)
{
    QStringList names;
    for (int row = 1; row < table.Rows(); ++row)
        names << table.TextMatrix(row, ServerTable::ColServer);
    return names;
}

const QStringList ThreeServers = {QStringLiteral("alpha"), QStringLiteral("bravo"),
                                  QStringLiteral("charlie")};

} // namespace

Q_DECLARE_METATYPE(TableAction)

class TestServerTable : public QObject
{
    Q_OBJECT

private slots:
    void shouldBringHeadingRowWithFirstServer();
    void shouldKeepNameVerbatimInServerColumn_data();
    void shouldKeepNameVerbatimInServerColumn();
    void shouldStartFreshHeadingRowAfterEmptying();
    void shouldMoveCurrentRowWithItsServerOnRemove_data();
    void shouldMoveCurrentRowWithItsServerOnRemove();
    void shouldLeaveCurrentRowAloneWhenCellsChange();
    void shouldMakeOnlyServerRowsCurrent_data();
    void shouldMakeOnlyServerRowsCurrent();
    void shouldIgnoreAccessOutsideTheTable_data();
    void shouldIgnoreAccessOutsideTheTable();
    void shouldIgnoreRowOperationsOutsideServerRows_data();
    void shouldIgnoreRowOperationsOutsideServerRows();
    void shouldNotifyObserverOfEachChange_data();
    void shouldNotifyObserverOfEachChange();
};

void TestServerTable::shouldBringHeadingRowWithFirstServer()
{
    ServerTable table;
    QCOMPARE(table.Rows(), 0);
    QCOMPARE(table.FixedRows(), 0);
    QCOMPARE(table.Row(), 0);

    table.AddServerRow(QStringLiteral("alpha"));
    QCOMPARE(table.Rows(), 2);
    QCOMPARE(table.FixedRows(), 1);
    QCOMPARE(table.Row(), 1);
    const QStringList expectedHeading = {QStringLiteral("Server"),     QStringLiteral("Status"),
                                         QStringLiteral("Version"),    QStringLiteral("Stratum"),
                                         QStringLiteral("Reference"),  QStringLiteral("Reference Time (UTC)"),
                                         QStringLiteral("Round-Trip"), QStringLiteral("Offset")};
    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        QCOMPARE(table.TextMatrix(0, col), expectedHeading.at(col));
        QCOMPARE(table.TextMatrix(1, col), col == 0   ? QStringLiteral("alpha")
                                           : col == 1 ? QStringLiteral("Wait")
                                                      : QString());
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(table.cellAlignment(row, col), ServerTable::AlignCentre);
            QCOMPARE(table.cellColour(row, col), ServerTable::ColourNormal);
        }
    }

    // The same name twice is two servers, both polled.
    table.AddServerRow(QStringLiteral("alpha"));
    QCOMPARE(table.Rows(), 3);
    QCOMPARE(table.Row(), 2);
    QCOMPARE(table.TextMatrix(0, 0), QStringLiteral("Server"));
    QCOMPARE(serverNames(table), QStringList({QStringLiteral("alpha"), QStringLiteral("alpha")}));
}

void TestServerTable::shouldKeepNameVerbatimInServerColumn_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("tab inside") << QStringLiteral("ntp\tOK\t4\t1");
    QTest::newRow("trailing blanks") << QStringLiteral("pool.example.org   ");
    QTest::newRow("leading blanks") << QStringLiteral("  pool.example.org");
    QTest::newRow("only blanks") << QStringLiteral("   ");
    QTest::newRow("newline") << QStringLiteral("first\nsecond");
    QTest::newRow("equals semicolon hash") << QStringLiteral("a=b;c#d");
    QTest::newRow("quotes") << QStringLiteral("\"quoted\" 'single'");
    QTest::newRow("non-ASCII letters") << QStringLiteral("zeit.zürich.ch ΩΣ 時計");
}

void TestServerTable::shouldKeepNameVerbatimInServerColumn()
{
    QFETCH(QString, name);
    ServerTable table;
    table.AddServerRow(name);
    QCOMPARE(table.TextMatrix(1, ServerTable::ColServer), name);
    QCOMPARE(table.TextMatrix(1, ServerTable::ColStatus), QStringLiteral("Wait"));
    for (int col = ServerTable::ColVersion; col < ServerTable::ColumnCount; ++col)
        QCOMPARE(table.TextMatrix(1, col), QString());
}

void TestServerTable::shouldStartFreshHeadingRowAfterEmptying()
{
    ServerTable table;
    for (int col = 0; col < ServerTable::ColumnCount; ++col)
        table.setColWidth(col, ServerTable::StartupColumnTwips[col]);
    addServers(table, ThreeServers);
    table.setTextMatrix(2, ServerTable::ColStatus, QStringLiteral("OK"));
    table.setRowColour(2, ServerTable::ColourRed);

    table.Clear();
    QCOMPARE(table.Rows(), 4);
    for (int row = 0; row < table.Rows(); ++row) {
        for (int col = 0; col < ServerTable::ColumnCount; ++col)
            QCOMPARE(table.TextMatrix(row, col), QString());
    }

    table.RemoveAllRows();
    QCOMPARE(table.Rows(), 0);
    QCOMPARE(table.FixedRows(), 0);
    QCOMPARE(table.Row(), 0);

    table.AddServerRow(QStringLiteral("delta"));
    QCOMPARE(table.Rows(), 2);
    QCOMPARE(table.FixedRows(), 1);
    QCOMPARE(table.Row(), 1);
    QCOMPARE(table.TextMatrix(0, ServerTable::ColReferenceTime), QStringLiteral("Reference Time (UTC)"));
    QCOMPARE(table.TextMatrix(1, ServerTable::ColServer), QStringLiteral("delta"));
    QCOMPARE(table.TextMatrix(1, ServerTable::ColStatus), QStringLiteral("Wait"));
    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        QCOMPARE(table.cellColour(1, col), ServerTable::ColourNormal);
        QCOMPARE(table.ColWidth(col), ServerTable::StartupColumnTwips[col]);
    }
}

void TestServerTable::shouldMoveCurrentRowWithItsServerOnRemove_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<QStringList>("expectedNames");

    const QString a = ThreeServers[0], b = ThreeServers[1], c = ThreeServers[2];
    QTest::newRow("current below the removed row follows its server") << 3 << 1 << 2 << QStringList{b, c};
    QTest::newRow("current above the removed row stays") << 1 << 3 << 1 << QStringList{a, b};
    QTest::newRow("removing the current row leaves none current") << 2 << 2 << 0 << QStringList{a, c};
    QTest::newRow("none current stays none") << 0 << 2 << 0 << QStringList{a, c};
}

void TestServerTable::shouldMoveCurrentRowWithItsServerOnRemove()
{
    QFETCH(int, current);
    QFETCH(int, removed);
    QFETCH(int, expectedCurrent);
    QFETCH(QStringList, expectedNames);

    ServerTable table;
    addServers(table, ThreeServers);
    table.setRow(current);
    table.RemoveItem(removed);

    QCOMPARE(table.Row(), expectedCurrent);
    QCOMPARE(serverNames(table), expectedNames);
    QCOMPARE(table.TextMatrix(0, 0), QStringLiteral("Server"));
}

void TestServerTable::shouldLeaveCurrentRowAloneWhenCellsChange()
{
    ServerTable table;
    addServers(table, ThreeServers);
    table.setRow(1);

    // What a poll step does to other rows while the operator has row 1 chosen.
    table.setTextMatrix(2, ServerTable::ColStatus, QStringLiteral("Polling"));
    table.setTextMatrix(3, ServerTable::ColOffset, QStringLiteral("0.125"));
    table.setRowColour(3, ServerTable::ColourRed);
    table.setRowColour(2, ServerTable::ColourNormal);

    QCOMPARE(table.Row(), 1);
    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        QCOMPARE(table.cellColour(3, col), ServerTable::ColourRed);
        QCOMPARE(table.cellColour(2, col), ServerTable::ColourNormal);
        QCOMPARE(table.cellColour(1, col), ServerTable::ColourNormal);
    }
    QCOMPARE(table.TextMatrix(2, ServerTable::ColStatus), QStringLiteral("Polling"));
    QCOMPARE(table.TextMatrix(3, ServerTable::ColOffset), QStringLiteral("0.125"));
}

void TestServerTable::shouldMakeOnlyServerRowsCurrent_data()
{
    QTest::addColumn<int>("clicked");
    QTest::addColumn<int>("expectedCurrent");
    QTest::newRow("first server row") << 1 << 1;
    QTest::newRow("last server row") << 3 << 3;
    QTest::newRow("heading row") << 0 << 0;
    QTest::newRow("past the last row") << 4 << 0;
    QTest::newRow("negative") << -1 << 0;
}

void TestServerTable::shouldMakeOnlyServerRowsCurrent()
{
    QFETCH(int, clicked);
    QFETCH(int, expectedCurrent);
    ServerTable table;
    addServers(table, ThreeServers);
    table.setRow(clicked);
    QCOMPARE(table.Row(), expectedCurrent);
}

void TestServerTable::shouldIgnoreAccessOutsideTheTable_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::newRow("negative row") << -1 << 0;
    QTest::newRow("row past the end") << 3 << 0;
    QTest::newRow("negative column") << 1 << -1;
    QTest::newRow("column past the end") << 1 << ServerTable::ColumnCount;
    QTest::newRow("far away") << 1000000 << 1000000;
}

void TestServerTable::shouldIgnoreAccessOutsideTheTable()
{
    QFETCH(int, row);
    QFETCH(int, col);
    ServerTable table;
    addServers(table, {QStringLiteral("alpha"), QStringLiteral("bravo")});
    RecordingObserver observer;
    table.setObserver(&observer);

    QCOMPARE(table.TextMatrix(row, col), QString());
    QCOMPARE(table.cellColour(row, col), ServerTable::ColourNormal);
    table.setTextMatrix(row, col, QStringLiteral("x"));

    QCOMPARE(observer.events, QStringList());
    QCOMPARE(table.Rows(), 3);
    QCOMPARE(serverNames(table), QStringList({QStringLiteral("alpha"), QStringLiteral("bravo")}));
}

void TestServerTable::shouldIgnoreRowOperationsOutsideServerRows_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("heading row") << 0;
    QTest::newRow("negative row") << -1;
    QTest::newRow("row past the end") << 3;
    QTest::newRow("far away") << 1000000;
}

void TestServerTable::shouldIgnoreRowOperationsOutsideServerRows()
{
    QFETCH(int, row);
    ServerTable table;
    addServers(table, {QStringLiteral("alpha"), QStringLiteral("bravo")});
    RecordingObserver observer;
    table.setObserver(&observer);

    table.setRowColour(row, ServerTable::ColourRed);
    table.RemoveItem(row);

    QCOMPARE(observer.events, QStringList());
    QCOMPARE(table.Rows(), 3);
    QCOMPARE(table.Row(), 2);
    for (int r = 0; r < table.Rows(); ++r) {
        for (int c = 0; c < ServerTable::ColumnCount; ++c)
            QCOMPARE(table.cellColour(r, c), ServerTable::ColourNormal);
    }
}

void TestServerTable::shouldNotifyObserverOfEachChange_data()
{
    QTest::addColumn<int>("servers");
    QTest::addColumn<int>("current");
    QTest::addColumn<TableAction>("action");
    QTest::addColumn<QStringList>("expectedEvents");

    const auto add = [](const QString& name) {
        return TableAction([=](ServerTable& t) { t.AddServerRow(name); });
    };

    QTest::newRow("first server brings the heading row")
        << 0 << 0 << add(QStringLiteral("alpha"))
        << QStringList{QStringLiteral("aboutToInsert 0 1"), QStringLiteral("inserted"),
                       QStringLiteral("current 1")};
    QTest::newRow("later server adds one row")
        << 3 << 1 << add(QStringLiteral("delta"))
        << QStringList{QStringLiteral("aboutToInsert 4 4"), QStringLiteral("inserted"),
                       QStringLiteral("current 4")};
    QTest::newRow("removing the current row")
        << 3 << 2 << TableAction([](ServerTable& t) { t.RemoveItem(2); })
        << QStringList{QStringLiteral("aboutToRemove 2 2"), QStringLiteral("removed"),
                       QStringLiteral("current 0")};
    QTest::newRow("removing a row above the current one")
        << 3 << 3 << TableAction([](ServerTable& t) { t.RemoveItem(1); })
        << QStringList{QStringLiteral("aboutToRemove 1 1"), QStringLiteral("removed"),
                       QStringLiteral("current 2")};
    QTest::newRow("removing a row below the current one")
        << 3 << 1 << TableAction([](ServerTable& t) { t.RemoveItem(3); })
        << QStringList{QStringLiteral("aboutToRemove 3 3"), QStringLiteral("removed")};
    QTest::newRow("emptying the table")
        << 3 << 2 << TableAction([](ServerTable& t) { t.RemoveAllRows(); })
        << QStringList{QStringLiteral("aboutToRemove 0 3"), QStringLiteral("removed"),
                       QStringLiteral("current 0")};
    QTest::newRow("emptying an empty table")
        << 0 << 0 << TableAction([](ServerTable& t) { t.RemoveAllRows(); }) << QStringList();
    QTest::newRow("writing one cell") << 3 << 1 << TableAction([](ServerTable& t) {
        t.setTextMatrix(2, ServerTable::ColRoundTrip, QStringLiteral("0.012"));
    }) << QStringList{QStringLiteral("cells 2 6 6")};
    QTest::newRow("writing the text a cell already holds") << 3 << 1 << TableAction([](ServerTable& t) {
        t.setTextMatrix(2, ServerTable::ColStatus, QStringLiteral("Wait"));
    }) << QStringList();
    QTest::newRow("colouring a row") << 3 << 1 << TableAction([](ServerTable& t) {
        t.setRowColour(3, ServerTable::ColourRed);
    }) << QStringList{QStringLiteral("cells 3 0 7")};
    QTest::newRow("colouring a row the colour it has")
        << 3 << 1 << TableAction([](ServerTable& t) { t.setRowColour(3, ServerTable::ColourNormal); })
        << QStringList();
    QTest::newRow("erasing every cell")
        << 2 << 1 << TableAction([](ServerTable& t) { t.Clear(); })
        << QStringList{QStringLiteral("cells 0 0 7"), QStringLiteral("cells 1 0 7"),
                       QStringLiteral("cells 2 0 7")};
    QTest::newRow("clicking another row") << 3 << 1 << TableAction([](ServerTable& t) { t.setRow(3); })
                                          << QStringList{QStringLiteral("current 3")};
    QTest::newRow("clicking the current row")
        << 3 << 1 << TableAction([](ServerTable& t) { t.setRow(1); }) << QStringList();
    QTest::newRow("clicking the heading row") << 3 << 2 << TableAction([](ServerTable& t) { t.setRow(0); })
                                              << QStringList{QStringLiteral("current 0")};
}

void TestServerTable::shouldNotifyObserverOfEachChange()
{
    QFETCH(int, servers);
    QFETCH(int, current);
    QFETCH(TableAction, action);
    QFETCH(QStringList, expectedEvents);

    ServerTable table;
    for (int i = 1; i <= servers; ++i)
        table.AddServerRow(QStringLiteral("server%1").arg(i));
    table.setRow(current);
    RecordingObserver observer;
    table.setObserver(&observer);

    action(table);
    QCOMPARE(observer.events, expectedEvents);
}

QTEST_GUILESS_MAIN(TestServerTable)
#include "test_servertable.moc"
