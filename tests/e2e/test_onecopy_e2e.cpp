#include "app/mainwindow.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "platform/singleinstance.h"
#include "servers/settingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;

// The program as the operator starts it from the menu, in folders of the test's own.
class OneCopyE2eTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid() && m_config.isValid());
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    // A copy that was killed leaves its lock and socket behind; the next start takes the window
    // over all the same, also when the lock's process id has gone to a live process. A later start hands over
    // to it and ends, and what the operator adds in the one window before and after is all stored. Headless
    // runs go on beside it.
    void shouldKeepOneWindowAndEveryServer()
    {
#ifdef Q_OS_WIN
        // Windows gives every copy the user's home as its folder, whatever the environment says,
        // and a named pipe ends with its process: what a killed copy leaves is its lock file.
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const QString leftover = QDir(folder).filePath(QStringLiteral("ostrelle-window.lock"));
        QFile::remove(leftover);
#else
        const QString folder = m_runtime.path();
        const QString leftover = m_runtime.filePath(QStringLiteral("ostrelle-window"));
#endif
        QProcess killed;
        start(killed);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(leftover), 10000);
        killed.kill();
        QVERIFY(killed.waitForFinished(5000));
        QVERIFY(QFileInfo::exists(leftover));
#ifdef Q_OS_WIN
        // Windows may give the dead copy's process id to a new process, another copy of this program
        // even: let the lock name a live one, this test, as QLockFile itself writes it.
        QLockFile live(m_config.filePath(QStringLiteral("live.lock")));
        QVERIFY(live.tryLock());
        QFile liveFile(live.fileName());
        QVERIFY(liveFile.open(QIODevice::ReadOnly));
        const QByteArray naming = liveFile.readAll();
        liveFile.close();
        live.unlock();
        QFile dead(leftover);
        QVERIFY(dead.open(QIODevice::WriteOnly | QIODevice::Truncate));
        dead.write(naming);
        dead.close();
#endif

        SingleInstance instance(folder);
        QCOMPARE(instance.claim(), SingleInstance::Claim::First);
        const QString storeFolder = m_config.filePath(QStringLiteral("Brevikon"));
        QSettingsBackend store(storeFolder);
        FakeClock clock;
        FakeUdpChannel channel;
        ScriptedMessageDialog messages;
        MainWindow window(clock, store, channel, messages);
        connect(&instance, &SingleInstance::showRequested, &window, &MainWindow::bringToFront);
        window.monitor().addServer(QStringLiteral("a.example"));
        QSignalSpy shown(&instance, &SingleInstance::showRequested);

        // The second click on the menu entry, while the window sits hidden.
        QProcess second;
        start(second);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(shown.size(), 1);
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());

        // A headless run goes on beside the window instead of handing over to it.
        QProcess headless;
        start(headless, {QStringLiteral("--version")});
        QVERIFY(headless.waitForFinished(10000));
        QCOMPARE(headless.exitCode(), 0);
        QVERIFY(!headless.readAllStandardOutput().isEmpty());
        QCOMPARE(shown.size(), 1);

        window.monitor().addServer(QStringLiteral("b.example"));
        QSettingsBackend reread(storeFolder);
        QCOMPARE(SettingsStore(reread, messages).loadSettings().servers,
                 (QStringList{"a.example", "b.example"}));
        QVERIFY(messages.shown.isEmpty());
    }

private:
    void start(QProcess& process, const QStringList& arguments = {})
    {
        process.setProcessEnvironment(m_environment);
        process.start(QStringLiteral(OSTRELLE_PROGRAM), arguments);
        QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    }

    QTemporaryDir m_runtime;
    QTemporaryDir m_config;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

QTEST_MAIN(OneCopyE2eTest)
#include "test_onecopy_e2e.moc"
