#include "servers/servertablemodel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QSignalSpy>
#include <QTest>
#include <functional>

using namespace ostrelle;

namespace {

using TableAction = std::function<void(ServerTable&)>;

// A dataChanged emission as (top row, left column, bottom row, right column) of the model.
using Range = QList<int>;

const QStringList ThreeServers = {QStringLiteral("alpha"), QStringLiteral("bravo"),
                                  QStringLiteral("charlie")};

void addServers(ServerTable& table, const QStringList& names)
{
    for (const QString& name : names)
        table.AddServerRow(name);
}

} // namespace

Q_DECLARE_METATYPE(TableAction)

class TestServerTableModel : public QObject
{
    Q_OBJECT

private slots:
    void shouldStayConsistentThroughEveryTableChange();
    void shouldShowServerRowsOnly();
    void shouldShowHeaderOnlyWhileHeadingRowExists();
    void shouldReportExactChangedRanges_data();
    void shouldReportExactChangedRanges();
    void shouldPaintRedRowsRed_data();
    void shouldPaintRedRowsRed();
    void shouldRelayCurrentRowChanges();
};

void TestServerTableModel::shouldStayConsistentThroughEveryTableChange()
{
    ServerTable table;
    ServerTableModel model(table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    addServers(table, ThreeServers);
    QCOMPARE(model.rowCount(), 3);
    table.setTextMatrix(2, ServerTable::ColStatus, QStringLiteral("OK"));
    table.setRowColour(3, ServerTable::ColourRed);
    table.RemoveItem(2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("charlie"));
    table.Clear();
    table.RemoveAllRows();
    QCOMPARE(model.rowCount(), 0);
    table.AddServerRow(QStringLiteral("delta"));
    QCOMPARE(model.rowCount(), 1);
    table.RemoveItem(1);
    QCOMPARE(model.rowCount(), 0);
    table.RemoveAllRows();
    QCOMPARE(model.rowCount(), 0);
}

void TestServerTableModel::shouldShowServerRowsOnly()
{
    ServerTable table;
    ServerTableModel model(table);
    addServers(table, ThreeServers);
    table.setTextMatrix(3, ServerTable::ColOffset, QStringLiteral("-0.004"));

    QCOMPARE(model.rowCount(), table.Rows() - 1);
    QCOMPARE(model.columnCount(), ServerTable::ColumnCount);
    for (int row = 1; row < table.Rows(); ++row) {
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            const QModelIndex index = model.indexForTableRow(row, col);
            QCOMPARE(index.row(), row - 1);
            QCOMPARE(index.column(), col);
            QCOMPARE(model.tableRow(index), row);
            QCOMPARE(index.data().toString(), table.TextMatrix(row, col));
            QCOMPARE(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()),
                     Qt::Alignment(Qt::AlignCenter));
        }
    }
    QVERIFY(!model.indexForTableRow(0).isValid());
    QVERIFY(!model.indexForTableRow(table.Rows()).isValid());
    QCOMPARE(model.tableRow(QModelIndex()), 0);
}

void TestServerTableModel::shouldShowHeaderOnlyWhileHeadingRowExists()
{
    ServerTable table;
    ServerTableModel model(table);
    QSignalSpy headerSpy(&model, &QAbstractItemModel::headerDataChanged);

    QVERIFY(!model.headerData(0, Qt::Horizontal).isValid());

    table.AddServerRow(QStringLiteral("alpha"));
    QCOMPARE(headerSpy.count(), 1);
    QCOMPARE(headerSpy.at(0).at(1).toInt(), 0);
    QCOMPARE(headerSpy.at(0).at(2).toInt(), ServerTable::ColumnCount - 1);
    for (int col = 0; col < ServerTable::ColumnCount; ++col)
        QCOMPARE(model.headerData(col, Qt::Horizontal).toString(), ServerTable::Headings()[col]);

    table.AddServerRow(QStringLiteral("bravo"));
    QCOMPARE(headerSpy.count(), 1);

    table.RemoveAllRows();
    QCOMPARE(headerSpy.count(), 2);
    QVERIFY(!model.headerData(ServerTable::ColOffset, Qt::Horizontal).isValid());
}

void TestServerTableModel::shouldReportExactChangedRanges_data()
{
    QTest::addColumn<TableAction>("action");
    QTest::addColumn<QList<Range>>("expectedRanges");

    QTest::newRow("one cell of the second server") << TableAction([](ServerTable& t) {
        t.setTextMatrix(2, ServerTable::ColRoundTrip, QStringLiteral("0.1"));
    }) << QList<Range>{{1, 6, 1, 6}};
    QTest::newRow("status of the first server") << TableAction([](ServerTable& t) {
        t.setTextMatrix(1, ServerTable::ColStatus, QStringLiteral("Polling"));
    }) << QList<Range>{{0, 1, 0, 1}};
    QTest::newRow("colour of the last server")
        << TableAction([](ServerTable& t) { t.setRowColour(3, ServerTable::ColourRed); })
        << QList<Range>{{2, 0, 2, 7}};
    QTest::newRow("unchanged text") << TableAction([](ServerTable& t) {
        t.setTextMatrix(1, ServerTable::ColServer, QStringLiteral("alpha"));
    }) << QList<Range>();
    QTest::newRow("every cell erased") << TableAction([](ServerTable& t) { t.Clear(); })
                                       << QList<Range>{{0, 0, 0, 7}, {1, 0, 1, 7}, {2, 0, 2, 7}};
}

void TestServerTableModel::shouldReportExactChangedRanges()
{
    QFETCH(TableAction, action);
    QFETCH(QList<Range>, expectedRanges);

    ServerTable table;
    ServerTableModel model(table);
    addServers(table, ThreeServers);
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);

    action(table);

    QList<Range> ranges;
    for (const QList<QVariant>& emission : spy) {
        const auto topLeft = emission.at(0).value<QModelIndex>();
        const auto bottomRight = emission.at(1).value<QModelIndex>();
        ranges.append({topLeft.row(), topLeft.column(), bottomRight.row(), bottomRight.column()});
    }
    QCOMPARE(ranges, expectedRanges);
}

void TestServerTableModel::shouldPaintRedRowsRed_data()
{
    QTest::addColumn<int>("colour");
    QTest::addColumn<bool>("expectRed");
    QTest::newRow("red") << ServerTable::ColourRed << true;
    QTest::newRow("normal") << ServerTable::ColourNormal << false;
}

void TestServerTableModel::shouldPaintRedRowsRed()
{
    QFETCH(int, colour);
    QFETCH(bool, expectRed);

    ServerTable table;
    ServerTableModel model(table);
    addServers(table, ThreeServers);
    table.setRowColour(2, ServerTable::ColourRed);
    table.setRowColour(2, colour);

    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        const QVariant foreground = model.indexForTableRow(2, col).data(Qt::ForegroundRole);
        QCOMPARE(foreground.isValid(), expectRed);
        if (expectRed)
            QCOMPARE(foreground.value<QBrush>().color(), QColor(255, 0, 0));
        QVERIFY(!model.indexForTableRow(1, col).data(Qt::ForegroundRole).isValid());
    }
}

void TestServerTableModel::shouldRelayCurrentRowChanges()
{
    ServerTable table;
    ServerTableModel model(table);
    QSignalSpy spy(&model, &ServerTableModel::currentTableRowChanged);

    addServers(table, ThreeServers);
    table.setRow(2);
    table.setRowColour(3, ServerTable::ColourRed);
    table.RemoveItem(2);

    QList<int> rows;
    for (const QList<QVariant>& emission : spy)
        rows.append(emission.at(0).toInt());
    QCOMPARE(rows, QList<int>({1, 2, 3, 2, 0}));
}

QTEST_GUILESS_MAIN(TestServerTableModel)
#include "test_servertablemodel.moc"
