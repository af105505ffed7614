#include "report/runreport.h"

#include <QTest>
#include <QTextStream>

using namespace ostrelle;

namespace {

// Stands in for the poller: hands back a prepared report and remembers what it was asked.
class ScriptedSource : public ReportSource
{
public:
    Report report;
    int calls = 0;
    ReportOptions askedFor;

    Report collect(const ReportOptions& options) override
    {
        ++calls;
        askedFor = options;
        return report;
    }
};

ReportRow row(const QString& server, bool healthy)
{
    ReportRow r;
    r.server = server;
    r.outcome = PollOutcome::Answered;
    r.stratum = 2;
    r.healthy = healthy;
    return r;
}

} // namespace

class RunReportTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldRouteEachActionToItsStreamAndStatus_data();
    void shouldRouteEachActionToItsStreamAndStatus();
};

void RunReportTest::shouldRouteEachActionToItsStreamAndStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Report>("report");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("polled");
    QTest::addColumn<QString>("outStart");
    QTest::addColumn<bool>("errWritten");

    const Report healthy{{row("127.0.0.1", true)},
                         {QStringLiteral("127.0.0.1"), {}, {}, ReportAgreement::Agreed}};
    const Report partly{{row("127.0.0.1", true), row("127.0.0.2", false)},
                        {QStringLiteral("127.0.0.1"), {}, {}, ReportAgreement::Agreed}};

    QTest::newRow("healthy text") << QStringList{"--report", "127.0.0.1"} << healthy << 0 << true
                                  << "NTP OK: " << false;
    QTest::newRow("partly red as csv")
        << QStringList{"--report", "--format", "csv"} << partly << 1 << true << "server,outcome," << false;
    QTest::newRow("nothing answered as prometheus")
        << QStringList{"--report", "--format", "prometheus"} << Report{} << 2 << true << "# HELP " << false;
    QTest::newRow("version") << QStringList{"--version"} << healthy << 0 << false << "Brevikon Ostrelle "
                             << false;
    QTest::newRow("usage error") << QStringList{"--report", "--timeout", "-3"} << healthy << 3 << false << ""
                                 << true;
    QTest::newRow("no report option") << QStringList{} << healthy << 3 << false << "" << true;
}

void RunReportTest::shouldRouteEachActionToItsStreamAndStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(Report, report);
    QFETCH(int, status);
    QFETCH(bool, polled);
    QFETCH(QString, outStart);
    QFETCH(bool, errWritten);

    arguments.prepend(QStringLiteral("ostrelle"));
    const CommandLine line = ParseCommandLine(arguments);
    ScriptedSource source;
    source.report = report;
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);

    QCOMPARE(RunCommandLine(line, source, outStream, errStream), status);
    QCOMPARE(source.calls, polled ? 1 : 0);
    if (polled)
        QCOMPARE(source.askedFor.servers, line.options.servers);
    QVERIFY2(outStart.isEmpty() ? out.isEmpty() : out.startsWith(outStart), qPrintable(out));
    QCOMPARE(!err.isEmpty(), errWritten);
}

QTEST_GUILESS_MAIN(RunReportTest)
#include "test_runreport.moc"
