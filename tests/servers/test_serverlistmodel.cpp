#include "servers/serverlistmodel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;

namespace {

constexpr double T = 3350992402.125; // 2006-03-10 15:13:22.125 UTC

ServerReading answer(int leap, int stratum, ServerProblems problems = {})
{
    ServerReading r;
    r.leap = leap;
    r.version = 4;
    r.stratum = stratum;
    r.referenceId = {'G', 'P', 'S', 0};
    r.referenceTime = T - 60.5;
    r.roundTripSeconds = 0.0984;
    r.offsetSeconds = -0.0004;
    r.hasTimestamps = true;
    r.problems = problems;
    return r;
}

QStringList rowTexts(const ServerListModel& model, int row)
{
    QStringList texts;
    for (int col = 0; col < model.columnCount(); ++col)
        texts << model.index(row, col).data().toString();
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(ostrelle::ServerReading)

class TestServerListModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void shouldStayConsistentThroughAddRemoveAndClear()
    {
        ServerListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addServers({"alpha", "bravo", "charlie"});
        QCOMPARE(model.addServer("delta"), 3);
        model.removeServer(1);
        model.removeServer(7); // outside: nothing
        QCOMPARE(model.names(), QStringList({"alpha", "charlie", "delta"}));
        QCOMPARE(model.index(1, 0).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), "Reference Time (UTC)");
    }

    void shouldShowEachStateOfARow_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("red");
        const QString none;
        // clang-format off
        QTest::newRow("waiting")  << "" << QStringList{"alpha", "Wait", none, none, none, none, none, none} << false;
        QTest::newRow("polling")  << "p" << QStringList{"alpha", "Polling", none, none, none, none, none, none} << false;
        QTest::newRow("answered") << "pa" << QStringList{"alpha", "OK", "4", "1", "GPS", "10/03/2006 15:12:22", "0.098", "0.000"} << false;
        QTest::newRow("stratum 2 hides the identifier") << "p2" << QStringList{"alpha", "OK", "4", "2", "-", "10/03/2006 15:12:22", "0.098", "0.000"} << false;
        QTest::newRow("unsynchronised") << "pn" << QStringList{"alpha", "NO SYNC", "4", "1", "GPS", "10/03/2006 15:12:22", "0.098", "0.000"} << true;
        QTest::newRow("never answered, timed out") << "pt" << QStringList{"alpha", "Timedout", none, none, none, none, none, none} << true;
        QTest::newRow("timed out keeps the last answer") << "papt" << QStringList{"alpha", "Timedout", "4", "1", "GPS", "10/03/2006 15:12:22", "0.098", "0.000"} << true;
        QTest::newRow("answer clears the mark") << "ptpa" << QStringList{"alpha", "OK", "4", "1", "GPS", "10/03/2006 15:12:22", "0.098", "0.000"} << false;
        // clang-format on
    }
    void shouldShowEachStateOfARow()
    {
        QFETCH(QString, steps);
        QFETCH(bool, red);
        ServerListModel model;
        model.addServer("alpha");
        for (const QChar step : steps) {
            if (step == u'p')
                model.setPolling(0);
            else if (step == u'a')
                model.setAnswered(0, answer(0, 1));
            else if (step == u'2')
                model.setAnswered(0, answer(0, 2));
            else if (step == u'n')
                model.setAnswered(0, answer(3, 1, ServerProblem::Unsynchronised));
            else if (step == u't')
                model.setTimedOut(0, {});
        }
        QTEST(rowTexts(model, 0), "texts");
        const QVariant brush = model.index(0, 7).data(Qt::ForegroundRole);
        QCOMPARE(brush.isValid(), red);
        if (red)
            QCOMPARE(brush.value<QBrush>().color(), QColor(Qt::red));
    }

    void shouldSayWhyARowIsRed_data()
    {
        QTest::addColumn<ServerReading>("reading");
        QTest::addColumn<QString>("marks"); // t: timed out, d: disagrees, r: too distant
        QTest::addColumn<QString>("why");

        const auto with = [](int leap, int stratum, ServerProblems problems, auto change) {
            ServerReading r = answer(leap, stratum, problems);
            r.stratumLimit = 3;
            r.referenceAgeLimitSeconds = 600;
            change(r);
            return r;
        };
        const auto same = [](ServerReading&) {};
        const ServerReading healthy = with(0, 1, {}, same);
        // clang-format off
        QTest::newRow("healthy") << healthy << "" << "";
        QTest::newRow("no reply") << healthy << "t" << "No reply within 10 s";
        QTest::newRow("leap 1") << with(1, 1, ServerProblem::LeapAnnounced, same) << "" << "Leap second announced";
        QTest::newRow("old reference") << with(0, 1, ServerProblem::ReferenceTooOld, [](ServerReading& r) { r.referenceAgeSeconds = 42 * 60 + 30; })
                                       << "" << "Reference time 42 min old (limit 10 min)";
        QTest::newRow("kiss-o'-death") << with(0, 0, ServerProblem::KissOfDeath, [](ServerReading& r) { r.referenceId = {'R', 'A', 'T', 'E'}; })
                                       << "" << "Kiss-o'-death: RATE (the server asks to be polled less often)";
        QTest::newRow("disagrees") << healthy << "d" << "Disagrees with 3 of 4 servers";
        QTest::newRow("too distant") << healthy << "r" << "Root distance 2.1 s is too large";
        QTest::newRow("all listed") << with(3, 5, ServerProblem::Unsynchronised | ServerProblem::StratumAboveLimit | ServerProblem::NoTimestamps, same)
                                    << "" << "Not synchronised (leap indicator 3); Stratum 5 is above the limit of 3; No timestamps in the reply";
        // clang-format on
    }

    void shouldSayWhyARowIsRed()
    {
        QFETCH(ServerReading, reading);
        QFETCH(QString, marks);
        QFETCH(QString, why);
        ServerListModel model;
        model.addServers({"alpha", "bravo"});
        model.setAnswered(1, reading);
        if (marks.contains(u't'))
            model.setTimedOut(1, {});
        if (marks.contains(u'd'))
            model.markAgreementProblem(1, ServerProblem::Disagrees, 3, 4, 0.0);
        if (marks.contains(u'r'))
            model.markAgreementProblem(1, ServerProblem::TooDistant, 0, 0, 2.1);
        for (int col = 0; col < model.columnCount(); ++col) {
            QCOMPARE(model.index(1, col).data(Qt::ToolTipRole).toString(), why);
            QCOMPARE(model.index(1, col).data(Qt::AccessibleDescriptionRole).toString(), why);
        }
        QCOMPARE(model.index(1, 0).data(Qt::ForegroundRole).isValid(), !why.isEmpty());
        QVERIFY(!model.index(0, 0).data(Qt::ToolTipRole).isValid());
    }

    void shouldFormatNumbersAndIdentifiers()
    {
        QCOMPARE(QStringList(
                     {SecondsText(-0.0), SecondsText(-0.0004), SecondsText(-0.0006), SecondsText(1234.5678)}),
                 QStringList({"0.000", "0.000", "-0.001", "1234.568"}));
        QLocale::setDefault(QLocale(QLocale::German));
        const QString german = SecondsText(-1234.5);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QCOMPARE(german, "-1234,500");
        QCOMPARE(QStringList({LeapStatusText(1), LeapStatusText(2)}), QStringList({"LEAP", "LEAP"}));
        QCOMPARE(QStringList({ReferenceIdText({'D', 'K', 0, 0}), ReferenceIdText({'A', 0, 'B', 0}),
                              ReferenceIdText({' ', '~', 0x1f, 0x7f})}),
                 QStringList({"DK", "A?B", " ~??"}));
        ServerRecord noTimes;
        noTimes.state = ServerState::Answered;
        noTimes.everAnswered = true;
        noTimes.reading = answer(0, 1);
        noTimes.reading.hasTimestamps = false;
        noTimes.reading.referenceTime = 0.0;
        QCOMPARE(QStringList({ServerCellText(noTimes, ServerColumn::ReferenceTime),
                              ServerCellText(noTimes, ServerColumn::RoundTrip),
                              ServerCellText(noTimes, ServerColumn::Offset)}),
                 QStringList({"-", "-", "-"}));
    }

    void shouldReportExactChangedRanges()
    {
        ServerListModel model;
        model.addServers({"alpha", "bravo", "charlie"});
        QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
        model.setPolling(1);
        model.setPolling(1); // unchanged: no signal
        model.setAnswered(1, answer(0, 1));
        model.setTimedOut(2, {});
        model.setTimedOut(2, {}); // already red: only the status
        model.setPolling(9);      // outside: nothing

        QList<QList<int>> ranges; // top row, left column, bottom row, right column
        for (const QList<QVariant>& signal : spy) {
            const auto from = signal.at(0).value<QModelIndex>(), to = signal.at(1).value<QModelIndex>();
            ranges.append({from.row(), from.column(), to.row(), to.column()});
        }
        QCOMPARE(ranges, QList<QList<int>>({{1, 1, 1, 1}, {1, 0, 1, 7}, {2, 0, 2, 7}, {2, 1, 2, 1}}));
    }

    void shouldShowOverlongNamesShortened()
    {
        ServerListModel model;
        const QString huge(10 * 1024 * 1024, u'n');
        model.addServer(huge);
        QCOMPARE(model.index(0, 0).data().toString(), QString(252, u'n') + "...");
        QCOMPARE(model.record(0).name.size(), huge.size()); // kept whole for the store
    }

    void shouldNotCutACharacterInHalfWhenShortening()
    {
        ServerListModel model;
        QString name = QStringLiteral("x");
        for (int i = 0; i < 200; ++i)
            name += QString::fromUcs4(U"\U0001F552");
        model.addServer(name);
        const QString shown = model.index(0, 0).data().toString();
        QVERIFY2(shown.isValidUtf16(), qPrintable(shown));
        QCOMPARE(shown, name.left(251) + "...");
    }
};

QTEST_GUILESS_MAIN(TestServerListModel)
#include "test_serverlistmodel.moc"
