#include "tests/support/ntpresponder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;

// The installed program's own command line: main() must answer these without a display.
class ReportCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldAnswerWithoutADisplay_data();
    void shouldAnswerWithoutADisplay();
};

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
    QTest::newRow("version") << QStringList{"--version"} << 0 << "Brevikon Ostrelle " << 0;
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: ostrelle " << 0;
    QTest::newRow("unknown option") << QStringList{"--report", "--colour"} << 3 << "" << 1;
    QTest::newRow("bad format") << QStringList{"--report", "--format", "xml", "%1"} << 3 << "" << 1;
    QTest::newRow("negative time-out") << QStringList{"--report", "--timeout", "-2", "%1"} << 3 << "" << 1;
    QTest::newRow("empty server name") << QStringList{"--report", "%1", ""} << 3 << "" << 1;
    QTest::newRow("port out of range") << QStringList{"--report", "127.0.0.1:70000"} << 3 << "" << 1;
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

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(OSTRELLE_PROGRAM), arguments);
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
    // The responder answers from this event loop, so wait in it rather than block.
    QTRY_VERIFY_WITH_TIMEOUT(program.state() == QProcess::NotRunning, 30'000);

    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == status, qPrintable(err));
    QVERIFY2(outStart.isEmpty() ? out.isEmpty() : out.startsWith(outStart), qPrintable(out));
    QCOMPARE(err.count(QLatin1Char('\n')), errLines);
    QVERIFY(err.isEmpty() || err.startsWith(QLatin1String("ostrelle: ")));
}

QTEST_GUILESS_MAIN(ReportCommandTest)
#include "test_reportcommand.moc"
