#include "report/reportformat.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

ReportRow answered(const QString& server, int stratum, double offset)
{
    ReportRow row;
    row.server = server;
    row.outcome = PollOutcome::Answered;
    row.version = 4;
    row.stratum = stratum;
    row.referenceId = QStringLiteral("GPS");
    row.referenceTime = ReportTime(1'796'000'000'123'456'789ns);
    row.roundTrip = ReportSeconds(0.000456789012345);
    row.offset = ReportSeconds(offset);
    row.rootDelay = ReportSeconds(0.0001220703125);
    row.rootDispersion = ReportSeconds(0.000518798828125);
    row.healthy = true;
    row.verdict = AgreementVerdict::Truechimer;
    return row;
}

ReportRow timedOut(const QString& server)
{
    ReportRow row;
    row.server = server;
    row.reasons = {QStringLiteral("no answer within 10 s")};
    return row;
}

ReportRow refused(const QString& server, const QString& why)
{
    ReportRow row = timedOut(server);
    row.outcome = PollOutcome::Refused;
    row.refusal = why;
    row.reasons = {QStringLiteral("kiss-o'-death")};
    return row;
}

// Healthy, red for its stratum, a falseticker, silent and kissed off; names that need quoting or
// escaping in every format.
Report mixedReport()
{
    ReportRow red = answered(QStringLiteral("red, \"quoted\"\nname"), 9, -0.25);
    red.healthy = false;
    red.reasons = {QStringLiteral("stratum 9 above 4"), QStringLiteral("reference time 61 min old")};
    red.referenceTime.reset();
    ReportRow liar = answered(QString::fromUtf8("back\\nslash zeit.f\xc3\xbcr"), 2, 3.5);
    liar.verdict = AgreementVerdict::Falseticker;
    return {{answered(QStringLiteral("127.0.0.2"), 1, 0.000123456789012345), red, liar,
             timedOut(QStringLiteral("127.0.0.9")),
             refused(QStringLiteral("127.0.0.7"), QStringLiteral("RATE"))},
            {QStringLiteral("127.0.0.2"), {}, ReportSeconds(0.000123456789012345), ReportAgreement::Agreed}};
}

ReportThresholds offsetThresholds(const QString& warning, const QString& critical)
{
    ReportThresholds thresholds;
    thresholds.offset = {ParseThresholdRange(warning), ParseThresholdRange(critical)};
    return thresholds;
}

// An nts:// server whose key exchange failed, with a reason that needs escaping, and one that
// answered with authentication.
QList<ReportRow> ntsRows()
{
    ReportRow failed = timedOut(QStringLiteral("nts://bad.example"));
    failed.outcome = PollOutcome::Refused;
    failed.refusal = QStringLiteral("NTS: the certificate of \"bad.example\" has expired");
    failed.nts = ReportNts{false, failed.refusal, 0};
    ReportRow good = answered(QStringLiteral("nts://good.example:4460"), 2, 0.002);
    good.nts = ReportNts{true, {}, 7};
    good.answeredAt = ReportTime(1'796'000'100'000'000'000ns);
    return {failed, good};
}

QString python()
{
    // Debian's interpreter, where Debian's python3-prometheus-client is installed.
    for (const QString& candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess probe;
        probe.start(candidate, {QStringLiteral("-c"), QStringLiteral("import prometheus_client.parser")});
        if (probe.waitForFinished(20'000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

QString runPython(const QString& interpreter, const QString& script, const QString& input)
{
    QProcess process;
    process.start(interpreter, {QStringLiteral("-c"), script});
    process.write(input.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(30'000) || process.exitCode() != 0)
        return QStringLiteral("python failed: ") + QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class ReportFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldMapRowsToTheExitStatus_data()
    {
        QTest::addColumn<Report>("report");
        QTest::addColumn<ReportStatus>("status");

        const ReportRow good = answered(QStringLiteral("a"), 1, 0.001);
        ReportRow red = good;
        red.healthy = false;
        ReportRow liar = good;
        liar.verdict = AgreementVerdict::Falseticker;
        const ReportVerdict agreed{QStringLiteral("a"), {}, ReportSeconds(0.001), ReportAgreement::Agreed};
        const ReportVerdict unchecked{
            QStringLiteral("a"), {}, ReportSeconds(0.001), ReportAgreement::NotChecked};
        const ReportVerdict disagree{std::nullopt, {}, {}, ReportAgreement::NoAgreement};

        QTest::newRow("all healthy") << Report{{good, good}, agreed} << ReportStatus::Ok;
        QTest::newRow("one healthy, not judged") << Report{{good}, unchecked} << ReportStatus::Ok;
        QTest::newRow("one red") << Report{{good, red}, agreed} << ReportStatus::Warning;
        QTest::newRow("one silent") << Report{{good, timedOut("b")}, agreed} << ReportStatus::Warning;
        QTest::newRow("one falseticker") << Report{{good, good, liar}, agreed} << ReportStatus::Warning;
        QTest::newRow("all red") << Report{{red, red}, unchecked} << ReportStatus::Critical;
        QTest::newRow("no servers") << Report{} << ReportStatus::Critical;
        QTest::newRow("healthy but disagreeing") << Report{{good, good}, disagree} << ReportStatus::Critical;

        // As check_ntp_time -w 0.5 -c 1 judges one server: on the absolute offset, each bound included.
        const ReportThresholds plugin = offsetThresholds(QStringLiteral("0.5"), QStringLiteral("1"));
        const auto offBy = [&](double offset) {
            return Report{{answered(QStringLiteral("a"), 1, offset)}, agreed, plugin};
        };
        QTest::newRow("offset within warning") << offBy(0.5) << ReportStatus::Ok;
        QTest::newRow("offset beyond warning") << offBy(0.7) << ReportStatus::Warning;
        QTest::newRow("negative offset beyond warning") << offBy(-0.7) << ReportStatus::Warning;
        QTest::newRow("offset beyond critical") << offBy(-1.5) << ReportStatus::Critical;
        QTest::newRow("one of a fleet beyond critical")
            << Report{{good, answered(QStringLiteral("b"), 1, 2.0)}, agreed, plugin}
            << ReportStatus::Critical;
        QTest::newRow("silent server, thresholds set")
            << Report{{good, timedOut("b")}, agreed, plugin} << ReportStatus::Warning;
        ReportThresholds stratum;
        stratum.stratum.critical = ParseThresholdRange(QStringLiteral("0:3"));
        QTest::newRow("stratum beyond critical")
            << Report{{answered(QStringLiteral("a"), 4, 0.0)}, agreed, stratum} << ReportStatus::Critical;
    }

    // The range syntax every plugin shares: outside start..end alerts, or inside with "@".
    void shouldReadThresholdRangesAsPluginsDo_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("alerts"); // -1: not a range

        QTest::newRow("10, inside") << "10" << 10.0 << 0;
        QTest::newRow("10, above") << "10" << 10.5 << 1;
        QTest::newRow("10, below zero") << "10" << -0.1 << 1;
        QTest::newRow("10:, below") << "10:" << 9.0 << 1;
        QTest::newRow("10:, far above") << "10:" << 1e9 << 0;
        QTest::newRow("~:10, far below") << "~:10" << -1e9 << 0;
        QTest::newRow("~:10, above") << "~:10" << 11.0 << 1;
        QTest::newRow("10:20, between") << "10:20" << 15.0 << 0;
        QTest::newRow("10:20, above") << "10:20" << 21.0 << 1;
        QTest::newRow("@10:20, between") << "@10:20" << 15.0 << 1;
        QTest::newRow("@10:20, outside") << "@10:20" << 9.0 << 0;
        QTest::newRow("fraction") << "0.5" << 0.500001 << 1;
        QTest::newRow("start above end") << "20:10" << 0.0 << -1;
        QTest::newRow("not a number") << "ten" << 0.0 << -1;
        QTest::newRow("two colons") << "1:2:3" << 0.0 << -1;
        QTest::newRow("empty") << "" << 0.0 << -1;
        QTest::newRow("infinite end") << "1:~" << 0.0 << -1;
    }

    void shouldReadThresholdRangesAsPluginsDo()
    {
        QFETCH(QString, range);
        QFETCH(double, value);
        QFETCH(int, alerts);
        const std::optional<ThresholdRange> parsed = ParseThresholdRange(range);
        QCOMPARE(parsed.has_value(), alerts >= 0);
        if (parsed)
            QCOMPARE(parsed->alerts(value), alerts == 1);
    }

    // Every server's offset, jitter, stratum and round trip as plugin perfdata after the long
    // text, under a quoted label whatever its name holds.
    void shouldGiveEveryServerPerfdata()
    {
        Report report = mixedReport();
        report.rows += ntsRows();
        report.thresholds = offsetThresholds(QStringLiteral("0.5"), QStringLiteral("1"));
        const QString text = TextReport(report);
        const QString longText = text.section(QLatin1Char('\n'), 1);
        QVERIFY2(!longText.section(QLatin1Char('|'), 0, 0).contains(QLatin1String("'offset_")),
                 qPrintable(text));
        QStringList items =
            longText.section(QLatin1Char('|'), 1).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString& each : items)
            each = each.trimmed();
        QCOMPARE(items.size(), report.rows.size() * 4 + 2 * 2);
        const QRegularExpression item(QStringLiteral(R"(^'[a-z]+_[^'=]+'=(U|-?[0-9.]+s?)(;[^;]*){4}$)"));
        for (const QString& each : items)
            QVERIFY2(item.match(each).hasMatch(), qPrintable(each));
        QVERIFY(items.contains(QStringLiteral("'offset_127.0.0.2'=0.000123457s;0.5;1;;")));
        QVERIFY(items.contains(QStringLiteral("'offset_127.0.0.9'=U;0.5;1;;")));
        QVERIFY(items.contains(QStringLiteral("'cookies_nts://good.example:4460'=7;;;0;")));
        // The falseticker 3.5 s off is also beyond critical; the red one 0.25 s off is not.
        QVERIFY2(
            text.startsWith(QLatin1String("NTP CRITICAL: 2 of 7 servers healthy, 1 server beyond critical,")),
            qPrintable(text));
        QVERIFY(text.contains(QLatin1String("NTS authenticated, 7 cookies")));
        QVERIFY(text.contains(QLatin1String("NTS not authenticated, 0 cookies (NTS: the certificate")));
    }

    // Prometheus' own linter on every metric the report writes, NTS ones included.
    void shouldPassPromtoolsCheck()
    {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool (Debian's prometheus package) is not installed");
        Report report = mixedReport();
        report.rows += ntsRows();
        QProcess process;
        process.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        process.write(PrometheusReport(report).toUtf8());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30'000));
        const QByteArray said = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    }

    void shouldMapRowsToTheExitStatus()
    {
        QFETCH(Report, report);
        QFETCH(ReportStatus, status);
        QCOMPARE(StatusOf(report), status);
        // Every format reports the same status; JSON carries it as a number.
        const QJsonObject json = QJsonDocument::fromJson(JsonReport(report).toUtf8()).object();
        QCOMPARE(json.value(QStringLiteral("exit_status")).toInt(-1), int(status));
    }

    void shouldSummariseInTheFirstTextLine()
    {
        Report report = mixedReport();
        const QStringList lines = TextReport(report).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.first(),
                 QStringLiteral("NTP WARNING: 1 of 5 servers healthy, best 127.0.0.2 offset +0.000123 s | "
                                "offset=0.000123s healthy=1;;;0;5"));
        QVERIFY2(lines.filter(QStringLiteral("127.0.0.7, refused: RATE")).size() == 1,
                 qPrintable(lines.join('\n')));
        QVERIFY(lines.filter(QStringLiteral("127.0.0.9, timed out")).size() == 1);

        report.rows = {report.rows.first()};
        QVERIFY(TextReport(report).startsWith(QLatin1String("NTP OK: 1 of 1 servers healthy")));
        report.rows = {timedOut(QStringLiteral("x"))};
        report.verdict = {};
        QCOMPARE(TextReport(report).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("NTP CRITICAL: 0 of 1 servers healthy, no usable server | healthy=0;;;0;1"));
    }

    void shouldKeepEveryFieldAtFullPrecisionInJson()
    {
        const Report report = mixedReport();
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(JsonReport(report).toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);

        QCOMPARE(json.value("best").toObject().value("offset").toDouble(), 0.000123456789012345);
        QCOMPARE(json.value("agreement").toString(), QStringLiteral("agreed"));
        const QJsonArray servers = json.value("servers").toArray();
        QCOMPARE(servers.size(), report.rows.size());
        for (qsizetype i = 0; i < servers.size(); ++i) {
            const QJsonObject object = servers.at(i).toObject();
            const ReportRow& row = report.rows.at(i);
            QCOMPARE(object.value("server").toString(), row.server);
            QCOMPARE(object.value("healthy").toBool(), IsUsable(row));
            QCOMPARE(object.value("reasons").toVariant().toStringList(), row.reasons);
            if (row.outcome != PollOutcome::Answered) {
                QVERIFY(object.value("offset").isNull());
                QVERIFY(object.value("stratum").isNull());
                continue;
            }
            QCOMPARE(object.value("offset").toDouble(), row.offset.count());
            QCOMPARE(object.value("round_trip").toDouble(), row.roundTrip.count());
            QCOMPARE(object.value("root_delay").toDouble(), row.rootDelay.count());
            QCOMPARE(object.value("root_dispersion").toDouble(), row.rootDispersion.count());
            QCOMPARE(object.value("stratum").toInt(), row.stratum);
        }
        QCOMPARE(servers.at(0)["reference_time"].toString(), QStringLiteral("2026-11-30T00:53:20.123Z"));
        QVERIFY(servers.at(1)["reference_time"].isNull());
        QCOMPARE(servers.at(2)["verdict"].toString(), QStringLiteral("falseticker"));
        QCOMPARE(servers.at(4)["refusal"].toString(), QStringLiteral("RATE"));
    }

    // Python's csv module reads RFC 4180 and prometheus_client the exposition format; each prints
    // what it read as JSON to compare exactly.
    void shouldWriteCsvAndPrometheusThatTheirParsersReadBack()
    {
        const QString interpreter = python();
        if (interpreter.isEmpty())
            QSKIP("python3 with Debian's prometheus_client is not installed");
        const Report report = mixedReport();
        const QString csvScript =
            QStringLiteral("import csv, io, json, sys\n"
                           "data = sys.stdin.buffer.read().decode()\n"
                           "print(json.dumps(list(csv.reader(io.StringIO(data, newline='')))))\n");
        const QString prometheusScript =
            QStringLiteral("import json, sys\n"
                           "from prometheus_client.parser import text_string_to_metric_families\n"
                           "out = {}\n"
                           "for family in text_string_to_metric_families(sys.stdin.read()):\n"
                           "    assert family.type == 'gauge', family.name\n"
                           "    assert family.documentation, family.name\n"
                           "    for s in family.samples:\n"
                           "        out.setdefault(s.name, {})[s.labels.get('server', '')] = s.value\n"
                           "print(json.dumps(out))\n");
        const QString csv = runPython(interpreter, csvScript, CsvReport(report));
        const QString prometheus = runPython(interpreter, prometheusScript, PrometheusReport(report));
        const QJsonArray records = QJsonDocument::fromJson(csv.toUtf8()).array();
        const QJsonObject metrics = QJsonDocument::fromJson(prometheus.toUtf8()).object();
        QVERIFY2(records.size() == report.rows.size() + 1, qPrintable(csv));
        QVERIFY2(!metrics.isEmpty(), qPrintable(prometheus));
        const QStringList header = records.at(0).toVariant().toStringList();
        QCOMPARE(records.at(1).toVariant().toStringList().at(header.indexOf("reference_time")),
                 QStringLiteral("2026-11-30T00:53:20.123Z"));

        for (qsizetype i = 0; i < report.rows.size(); ++i) {
            const ReportRow& row = report.rows.at(i);
            const bool answered = row.outcome == PollOutcome::Answered;
            const QStringList fields = records.at(i + 1).toVariant().toStringList();
            QCOMPARE(fields.size(), header.size());
            QCOMPARE(fields.at(header.indexOf("server")), row.server);
            QCOMPARE(fields.at(header.indexOf("reasons")), row.reasons.join(QStringLiteral("; ")));
            QCOMPARE(fields.at(header.indexOf("offset")).toDouble(), answered ? row.offset.count() : 0.0);

            const auto value = [&](const char* name) {
                return metrics.value(name).toObject().value(row.server);
            };
            QCOMPARE(value("ostrelle_server_up").toDouble(), answered ? 1.0 : 0.0);
            QCOMPARE(value("ostrelle_server_healthy").toDouble(), IsUsable(row) ? 1.0 : 0.0);
            QCOMPARE(value("ostrelle_server_offset_seconds").isUndefined(), !answered);
            QCOMPARE(value("ostrelle_server_agreeing").isUndefined(), !answered);
            if (answered) {
                QCOMPARE(value("ostrelle_server_offset_seconds").toDouble(), row.offset.count());
                QCOMPARE(value("ostrelle_server_round_trip_seconds").toDouble(), row.roundTrip.count());
                QCOMPARE(value("ostrelle_server_stratum").toDouble(), double(row.stratum));
                QCOMPARE(value("ostrelle_server_agreeing").toDouble(),
                         row.verdict == AgreementVerdict::Truechimer ? 1.0 : 0.0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(ReportFormatTest)
#include "test_reportformat.moc"
