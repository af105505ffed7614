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

struct PluginRun
{
    int status = -1;
    QString firstLine;
};

// Runs a plugin to its end inside the event loop, where the responder answers.
PluginRun runPlugin(const QString& program, const QStringList& arguments, const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted())
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
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            out.section(QLatin1Char('\n'), 0, 0)};
}

} // namespace

// The report as a monitoring plugin, beside the plugin operators already run for one server's
// offset: the same thresholds on the same loopback server must give the same status.
class PluginSideBySideTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldJudgeAsCheckNtpTimeDoes_data();
    void shouldJudgeAsCheckNtpTimeDoes();
};

void PluginSideBySideTest::shouldJudgeAsCheckNtpTimeDoes_data()
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

void PluginSideBySideTest::shouldJudgeAsCheckNtpTimeDoes()
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
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString port = QString::number(responder.port());
    const QStringList thresholds{QStringLiteral("-w"), QStringLiteral("0.5"), QStringLiteral("-c"),
                                 QStringLiteral("1"),  QStringLiteral("-t"),  QStringLiteral("3")};

    const PluginRun peer =
        runPlugin(CheckNtpTime,
                  QStringList{QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), port} +
                      thresholds,
                  home.path());
    const PluginRun ours = runPlugin(QStringLiteral(OSTRELLE_PROGRAM),
                                     QStringList{QStringLiteral("--report"), QStringLiteral("--samples"),
                                                 QStringLiteral("1"), QStringLiteral("127.0.0.1:") + port} +
                                         thresholds,
                                     home.path());
    qInfo("check_ntp_time %d: %s", peer.status, qPrintable(peer.firstLine));
    qInfo("ostrelle       %d: %s", ours.status, qPrintable(ours.firstLine));
    QCOMPARE(peer.status, status);
    QCOMPARE(ours.status, peer.status);
    // Both begin with the same word for the same status.
    QCOMPARE(ours.firstLine.section(QLatin1Char(':'), 0, 0), peer.firstLine.section(QLatin1Char(':'), 0, 0));
}

QTEST_GUILESS_MAIN(PluginSideBySideTest)
#include "test_pluginsidebyside.moc"
