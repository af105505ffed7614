#include "tests/support/ntpresponder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;

namespace {

// Debian's monitoring-plugins-basic.
const QString CheckNtpTime = QStringLiteral("/usr/lib/nagios/plugins/check_ntp_time");

struct ProgramRun
{
    bool finished = false;
    int status = -1;
    QString out;
    QString err;
};

// Runs a program to its end without a display, with a configuration folder of its own, waiting in
// the event loop, where the loopback responder answers.
ProgramRun runHeadless(const QString& program, const QStringList& arguments)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!home.isValid() || !process.waitForStarted())
        return {};
    QElapsedTimer waited;
    waited.start();
    while (process.state() != QProcess::NotRunning && waited.elapsed() < 30'000)
        QTest::qWait(20);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit,
            process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

// The installed program's own command line, as a monitoring system or cron runs it.
class ReportCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldAnswerWithoutADisplay_data();
    void shouldAnswerWithoutADisplay();
    void shouldJudgeAsCheckNtpTimeDoes_data();
    void shouldJudgeAsCheckNtpTimeDoes();
};

// How each option the parser's own test reads reaches the streams and the exit status is
// RunCommandLine's test; here main() itself answers, one row for each kind of answer.
void ReportCommandTest::shouldAnswerWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outStart");
    QTest::addColumn<int>("errLines");

    // %1 is the loopback responder's host:port.
    QTest::newRow("report") << QStringList{"--report", "%1"} << 0 << "NTP OK: 1 of 1 servers healthy" << 0;
    QTest::newRow("report as prometheus")
        << QStringList{"--report", "--format=prometheus", "%1"} << 0 << "# HELP ostrelle_server_up" << 0;
    QTest::newRow("version") << QStringList{"--version"} << 0 << "Brevikon Ostrelle " OSTRELLE_VERSION "\n"
                             << 0;
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: ostrelle " << 0;
    QTest::newRow("unknown option") << QStringList{"--report", "--colour"} << 3 << "" << 1;
}

void ReportCommandTest::shouldAnswerWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, outStart);
    QFETCH(int, errLines);

    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    const QString server = QStringLiteral("127.0.0.1:%1").arg(responder.port());
    for (QString& argument : arguments)
        argument.replace(QLatin1String("%1"), server);

    const ProgramRun run = runHeadless(QStringLiteral(OSTRELLE_PROGRAM), arguments);
    QVERIFY(run.finished);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QVERIFY2(outStart.isEmpty() ? run.out.isEmpty() : run.out.startsWith(outStart), qPrintable(run.out));
    QCOMPARE(run.err.count(QLatin1Char('\n')), errLines);
    QVERIFY(run.err.isEmpty() || run.err.startsWith(QLatin1String("ostrelle: ")));
}

// Beside the plugin operators already run for one server's offset: the same thresholds on the same
// loopback server must give the same status.
void ReportCommandTest::shouldJudgeAsCheckNtpTimeDoes_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("status");

    QTest::newRow("healthy") << 0.0 << false << 0;
    QTest::newRow("beyond warning") << 0.7 << false << 1;
    QTest::newRow("beyond warning, behind") << -0.7 << false << 1;
    QTest::newRow("beyond critical") << -2.0 << false << 2;
    QTest::newRow("unreachable") << 0.0 << true << 2;
}

void ReportCommandTest::shouldJudgeAsCheckNtpTimeDoes()
{
    QFETCH(double, offset);
    QFETCH(bool, silent);
    QFETCH(int, status);
    if (!QFileInfo(CheckNtpTime).isExecutable())
        QSKIP("check_ntp_time (Debian's monitoring-plugins-basic) is not installed");

    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    responder.fields.offset = offset;
    responder.silent = silent;
    const QString port = QString::number(responder.port());
    const QStringList thresholds{"-w", "0.5", "-c", "1", "-t", "3"};

    const ProgramRun peer =
        runHeadless(CheckNtpTime, QStringList{"-H", "127.0.0.1", "-p", port} + thresholds);
    const ProgramRun ours =
        runHeadless(QStringLiteral(OSTRELLE_PROGRAM),
                    QStringList{"--report", "--samples", "1", "127.0.0.1:" + port} + thresholds);
    const auto firstLine = [](const ProgramRun& run) { return run.out.section(QLatin1Char('\n'), 0, 0); };
    qInfo("check_ntp_time %d: %s", peer.status, qPrintable(firstLine(peer)));
    qInfo("ostrelle       %d: %s", ours.status, qPrintable(firstLine(ours)));
    QCOMPARE(peer.status, status);
    QCOMPARE(ours.status, peer.status);
    // Both begin with the same word for the same status.
    QCOMPARE(firstLine(ours).section(QLatin1Char(':'), 0, 0),
             firstLine(peer).section(QLatin1Char(':'), 0, 0));
}

QTEST_GUILESS_MAIN(ReportCommandTest)
#include "test_reportcommand.moc"
