#include "servers/servertable.h"

#include <QStringList>
#include <QTest>

using namespace ostrelle;

namespace {

ServerTable threeServers()
{
    ServerTable table;
    for (const char* name : {"alpha", "bravo", "charlie"})
        table.AddServerRow(QString::fromLatin1(name));
    return table;
}

// The server names in table order, the operator's current row marked with a '*'.
QStringList servers(const ServerTable& t)
{
    QStringList names;
    for (int row = 1; row < t.Rows(); ++row)
        names << QLatin1String(row == t.Row() ? "*" : "") + t.TextMatrix(row, ServerTable::ColServer);
    return names;
}

QStringList cells(const ServerTable& t, int row)
{
    QStringList texts;
    for (int col = 0; col < ServerTable::ColumnCount; ++col)
        texts << t.TextMatrix(row, col);
    return texts;
}

const QStringList Headings = {
    "Server", "Status", "Version", "Stratum", "Reference", "Reference Time (UTC)", "Round-Trip", "Offset"};

} // namespace

class TestServerTable : public QObject
{
    Q_OBJECT

private slots:
    void shouldBringHeadingRowWithFirstServer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("afterClearAll");
        QTest::newRow("tabs do not spill into other columns") << QStringLiteral("ntp\tOK\t4\t1") << false;
        QTest::newRow("only blanks") << QStringLiteral("  ") << false;
        QTest::newRow("after Clear All") << QStringLiteral("delta") << true;
    }
    void shouldBringHeadingRowWithFirstServer()
    {
        QFETCH(QString, name);
        QFETCH(bool, afterClearAll);
        ServerTable table;
        if (afterClearAll) {
            table = threeServers();
            table.setColWidth(ServerTable::ColReferenceTime, 1800);
            table.setRowColour(1, ServerTable::ColourRed);
            table.Clear();
            QCOMPARE(table.Rows(), 4);
            QCOMPARE(cells(table, 0), QStringList(ServerTable::ColumnCount, QString()));
            table.RemoveAllRows();
        }
        QCOMPARE(table.Rows(), 0);
        QCOMPARE(table.FixedRows(), 0);
        table.AddServerRow(name);
        QCOMPARE(table.Rows(), 2);
        QCOMPARE(table.FixedRows(), 1);
        QCOMPARE(cells(table, 0), Headings);
        QCOMPARE(cells(table, 1), QStringList({name, "Wait", "", "", "", "", "", ""}));
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            QCOMPARE(table.cellAlignment(1, col), ServerTable::AlignCentre);
            QCOMPARE(table.cellColour(1, col), ServerTable::ColourNormal);
        }
        QCOMPARE(table.ColWidth(ServerTable::ColReferenceTime), afterClearAll ? 1800 : 0);
        table.AddServerRow(name);
        QCOMPARE(servers(table), QStringList({name, "*" + name}));
    }

    void shouldMoveCurrentRowOnlyWithOperatorsServer()
    {
        ServerTable table = threeServers();
        // What a poll step does to other rows.
        table.setTextMatrix(1, ServerTable::ColStatus, QStringLiteral("Polling"));
        table.setRowColour(2, ServerTable::ColourRed);
        QCOMPARE(servers(table), QStringList({"alpha", "bravo", "*charlie"}));
        table.RemoveItem(1);
        QCOMPARE(servers(table), QStringList({"bravo", "*charlie"}));
        // Nothing outside the server rows is removed, written or made current.
        table.RemoveItem(0);
        table.RemoveItem(3);
        table.setTextMatrix(3, ServerTable::ColServer, QStringLiteral("x"));
        table.setTextMatrix(1, ServerTable::ColumnCount, QStringLiteral("x"));
        table.setRow(0);
        QCOMPARE(servers(table), QStringList({"bravo", "charlie"}));
        table.setRow(1);
        table.RemoveItem(1);
        QCOMPARE(servers(table), QStringList({"charlie"}));
        table.AddServerRow(QStringLiteral("delta"));
        table.setRow(1);
        table.RemoveItem(2);
        QCOMPARE(servers(table), QStringList({"*charlie"}));
    }

    void shouldColourOneServerRowAndReadNothingOutsideTheTable()
    {
        ServerTable table = threeServers();
        table.setRowColour(0, ServerTable::ColourRed);
        table.setRowColour(2, ServerTable::ColourRed);
        for (int row = -1; row <= 4; ++row) {
            for (int col = -1; col <= ServerTable::ColumnCount; ++col) {
                const bool red = row == 2 && col >= 0 && col < ServerTable::ColumnCount;
                QCOMPARE(table.cellColour(row, col),
                         red ? ServerTable::ColourRed : ServerTable::ColourNormal);
            }
        }
        QCOMPARE(cells(table, -1) + cells(table, 4), QStringList(2 * ServerTable::ColumnCount, QString()));
        QCOMPARE(table.TextMatrix(1, -1) + table.TextMatrix(1, ServerTable::ColumnCount), QString());
    }
};

QTEST_GUILESS_MAIN(TestServerTable)
#include "test_servertable.moc"
