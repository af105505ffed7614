#include "report/reportoptions.h"

#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;
using Action = CommandLine::Action;

class ReportOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldChooseTheActionFromTheArguments_data();
    void shouldChooseTheActionFromTheArguments();
    void shouldReadTheReportOptions();
    void shouldFallBackToDefaults();
};

void ReportOptionsTest::shouldChooseTheActionFromTheArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");

    QTest::newRow("no arguments") << QStringList{} << Action::StartWindow;
    QTest::newRow("Qt's own options stay the window's")
        << QStringList{"-platform", "offscreen"} << Action::StartWindow;
    QTest::newRow("a word that is none of ours") << QStringList{"--reportx"} << Action::StartWindow;
    QTest::newRow("report") << QStringList{"--report"} << Action::Report;
    QTest::newRow("help") << QStringList{"--help"} << Action::ShowHelp;
    QTest::newRow("version") << QStringList{"--version"} << Action::ShowVersion;
    QTest::newRow("help beside report") << QStringList{"--report", "--help"} << Action::ShowHelp;
    QTest::newRow("unknown option beside report")
        << QStringList{"--report", "--colour"} << Action::UsageError;
    QTest::newRow("bad format") << QStringList{"--report", "--format", "xml"} << Action::UsageError;
    QTest::newRow("format without value") << QStringList{"--report", "--format"} << Action::UsageError;
    QTest::newRow("zero time-out") << QStringList{"--report", "--timeout", "0"} << Action::UsageError;
    QTest::newRow("time-out not a number")
        << QStringList{"--report", "--timeout", "ten"} << Action::UsageError;
    QTest::newRow("blank server") << QStringList{"--report", "  "} << Action::UsageError;
    QTest::newRow("stratum 16") << QStringList{"--report", "--stratum-limit", "16"} << Action::UsageError;
    QTest::newRow("negative age") << QStringList{"--report", "--reference-age-limit", "-5"}
                                  << Action::UsageError;
    QTest::newRow("report option without report") << QStringList{"--format", "json"} << Action::UsageError;
    // Each form of a name is the name parser's test; these two show the command line goes through it.
    QTest::newRow("port out of range") << QStringList{"--report", "127.0.0.1:65536"} << Action::UsageError;
    QTest::newRow("NTS server") << QStringList{"--report", "nts://time.example:4461"} << Action::Report;
    QTest::newRow("plugin thresholds")
        << QStringList{"--report", "-w", "0.5", "-c", "1", "-W", "0:3", "-k", "@1:2", "-t", "5"}
        << Action::Report;
    // Each form of a range is the format test's.
    QTest::newRow("threshold not a range") << QStringList{"--report", "-w", "half"} << Action::UsageError;
    QTest::newRow("threshold without report") << QStringList{"-w", "0.5"} << Action::UsageError;
    QTest::newRow("exporter") << QStringList{"--exporter"} << Action::Exporter;
    QTest::newRow("exporter on IPv6")
        << QStringList{"--exporter", "--listen", "[::1]:9100"} << Action::Exporter;
    QTest::newRow("exporter and report") << QStringList{"--exporter", "--report"} << Action::UsageError;
    QTest::newRow("listen without exporter")
        << QStringList{"--report", "--listen", "127.0.0.1:9100"} << Action::UsageError;
    QTest::newRow("listen on port 0")
        << QStringList{"--exporter", "--listen", "127.0.0.1:0"} << Action::UsageError;
    QTest::newRow("listen on a name")
        << QStringList{"--exporter", "--listen", "a.example:9100"} << Action::UsageError;
    QTest::newRow("exporter with a format")
        << QStringList{"--exporter", "--format", "json"} << Action::UsageError;
    QTest::newRow("interval of 0") << QStringList{"--exporter", "--interval", "0"} << Action::UsageError;
}

void ReportOptionsTest::shouldChooseTheActionFromTheArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);

    arguments.prepend(QStringLiteral("ostrelle"));
    const CommandLine line = ParseCommandLine(arguments);
    QCOMPARE(line.action, action);
    if (action == Action::UsageError) {
        // One line on standard error, named for the program.
        QVERIFY2(line.text.startsWith(QLatin1String("ostrelle: ")), qPrintable(line.text));
        QCOMPARE(line.text.count(QLatin1Char('\n')), 1);
        QVERIFY(line.text.endsWith(QLatin1Char('\n')));
    }
}

void ReportOptionsTest::shouldReadTheReportOptions()
{
    const CommandLine line =
        ParseCommandLine({"ostrelle", "--report", "--format", "prometheus", "--timeout", "2.5",
                          "--stratum-limit", "3", "--reference-age-limit=45", " a.example ", "127.0.0.1"});
    QCOMPARE(line.action, Action::Report);
    QCOMPARE(line.options.format, ReportFormat::Prometheus);
    QCOMPARE(line.options.timeout, 2500ms);
    QCOMPARE(line.options.stratumLimit, std::optional<int>(3));
    QCOMPARE(line.options.referenceAgeLimit, std::optional<std::chrono::minutes>(45min));
    QCOMPARE(line.options.servers, QStringList({"a.example", "127.0.0.1"}));

    // Upper and lower case letters are different measures, as in the plugins.
    const ReportThresholds t =
        ParseCommandLine({"ostrelle", "--report", "-w", "0.5", "-C", "5", "--jitter-warning=0.01"})
            .options.thresholds;
    QVERIFY(t.offset.warning && t.offset.warning->text == QLatin1String("0.5") && !t.offset.critical);
    QVERIFY(t.stratum.critical && t.stratum.critical->end == 5.0 && !t.stratum.warning);
    QVERIFY(t.jitter.warning && t.jitter.warning->end == 0.01 && !t.jitter.critical);
    const CommandLine exporter =
        ParseCommandLine({"ostrelle", "--exporter", "--listen=[::1]:9100", "--interval", "7"});
    QCOMPARE(exporter.exporter.listenHost, QStringLiteral("::1"));
    QCOMPARE(exporter.exporter.listenPort, quint16(9100));
    QCOMPARE(exporter.exporter.interval, std::optional<std::chrono::seconds>(7s));
}

void ReportOptionsTest::shouldFallBackToDefaults()
{
    const CommandLine line = ParseCommandLine({"ostrelle", "--report"});
    QCOMPARE(line.action, Action::Report);
    QCOMPARE(line.options.format, ReportFormat::Text);
    QCOMPARE(line.options.timeout, 10s);
    QVERIFY(!line.options.stratumLimit);
    QVERIFY(!line.options.referenceAgeLimit);
    QVERIFY(line.options.servers.isEmpty());
}

QTEST_GUILESS_MAIN(ReportOptionsTest)
#include "test_reportoptions.moc"
