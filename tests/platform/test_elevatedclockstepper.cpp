#include "platform/elevatedclockstepper.h"
#include "platform/winsupport.h"
#include "tests/support/testsystem.h"

#include <QSignalSpy>
#include <QTest>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <windows.h>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

using Outcome = ElevatedClockStepper::Outcome;
using Kind = Outcome::Kind;

// A launcher that answers as told, at once or once the test lets it, and records every offset it
// was given. Shared with the launch threads, which may outlive a test function.
struct ScriptedLaunches
{
    Outcome outcome{Kind::Exited, 0};
    bool holdUntilReleased = false;
    std::mutex mutex;
    std::condition_variable released;
    bool isReleased = false;
    QList<std::chrono::nanoseconds> offsets;

    void release()
    {
        const std::lock_guard lock(mutex);
        isReleased = true;
        released.notify_all();
    }
    int count()
    {
        const std::lock_guard lock(mutex);
        return int(offsets.size());
    }
};

ElevatedClockStepper::Launcher launcher(const std::shared_ptr<ScriptedLaunches>& script)
{
    return [script](std::chrono::nanoseconds offset) {
        std::unique_lock lock(script->mutex);
        script->offsets.append(offset);
        if (script->holdUntilReleased)
            script->released.wait(lock, [&] { return script->isReleased; });
        return script->outcome;
    };
}

} // namespace

class ElevatedClockStepperTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldReportHowTheElevatedCopyEnded_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("cancelled");
        // The system's own texts differ between Windows and Wine ("Privilege not held").
        const QString notHeld = SystemErrorText(ERROR_PRIVILEGE_NOT_HELD);
        QTest::newRow("clock set") << int(Kind::Exited) << 0 << true << "" << false;
        QTest::newRow("refused: no time privilege")
            << int(Kind::Exited) << int(ERROR_PRIVILEGE_NOT_HELD) << false << notHeld << false;
        QTest::newRow("consent prompt declined")
            << int(Kind::Declined) << int(ERROR_CANCELLED) << false
            << "The request for administrator rights was declined" << true;
        QTest::newRow("program missing") << int(Kind::NotStarted) << int(ERROR_FILE_NOT_FOUND) << false
                                         << "The program could not be started with administrator rights: " +
                                                SystemErrorText(ERROR_FILE_NOT_FOUND)
                                         << false;
    }
    void shouldReportHowTheElevatedCopyEnded()
    {
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(bool, ok);
        QFETCH(QString, reason);
        QFETCH(bool, cancelled);
        const auto script = std::make_shared<ScriptedLaunches>();
        script->outcome = Outcome{Kind(kind), static_cast<unsigned long>(code)};
        ElevatedClockStepper stepper(launcher(script));
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(-1'500'000'123ns);
        // The window goes on while the prompt is open: the answer comes through the event loop.
        QVERIFY(stepper.busy());
        QCOMPARE(finished.size(), 0);
        QVERIFY(finished.wait(5000));

        QCOMPARE(script->offsets, QList<std::chrono::nanoseconds>{-1'500'000'123ns});
        QCOMPARE(finished, (QList<QVariantList>{{ok, reason, cancelled}}));
        QCOMPARE(stepper.declined(), cancelled);
        QVERIFY(!stepper.busy());
    }

    // As on Linux: after a declined prompt nobody is asked until clock adjustment is confirmed again.
    void shouldStopAskingOnceDeclined()
    {
        const auto script = std::make_shared<ScriptedLaunches>();
        script->outcome = Outcome{Kind::Declined, ERROR_CANCELLED};
        ElevatedClockStepper stepper(launcher(script));
        QSignalSpy finished(&stepper, &ClockStepper::finished);
        stepper.step(1s);
        QVERIFY(finished.wait(5000));

        stepper.step(2s);
        QCOMPARE(finished.size(), 2);
        QCOMPARE(finished.last().at(2).toBool(), true);
        QCOMPARE(script->count(), 1);

        script->outcome = Outcome{Kind::Exited, 0};
        stepper.allowAsking();
        stepper.step(3s);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).toBool(), true);
        QCOMPARE(script->offsets.last(), std::chrono::nanoseconds(3s));
    }

    // A prompt left open ends in a refusal after the bounded wait; the late answer is ignored, and a
    // step asked for meanwhile is refused rather than queued behind the prompt.
    void shouldGiveUpOnAPromptLeftOpenAndIgnoreTheLateAnswer()
    {
        const auto script = std::make_shared<ScriptedLaunches>();
        script->holdUntilReleased = true;
        ElevatedClockStepper stepper(launcher(script), 300ms);
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(1s);
        stepper.step(5s);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), false);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last(),
                 (QVariantList{
                     false, QStringLiteral("No answer to the request for administrator rights within 0.3 s"),
                     false}));
        QVERIFY(!stepper.busy());

        script->release();
        QTest::qWait(200);
        QCOMPARE(finished.size(), 2);
        QCOMPARE(script->count(), 1);
    }

    // The stepper may be gone before the operator answers; the answer must then go nowhere.
    void shouldDropTheAnswerForAStepperThatIsGone()
    {
        const auto script = std::make_shared<ScriptedLaunches>();
        script->holdUntilReleased = true;
        {
            ElevatedClockStepper stepper(launcher(script));
            stepper.step(1s);
            QTRY_COMPARE(script->count(), 1);
        }
        script->release();
        QTest::qWait(200);
    }

    void shouldTakeOnlyItsOwnCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status"); // -1: not the elevated copy's command line
        QTest::newRow("the window") << QStringList{"ostrelle.exe"} << -1;
        QTest::newRow("a report") << QStringList{"ostrelle.exe", "--report", "--step-clock"} << -1;
        QTest::newRow("no offset") << QStringList{"ostrelle.exe", "--step-clock"}
                                   << int(ERROR_INVALID_PARAMETER);
        QTest::newRow("offset in letters")
            << QStringList{"ostrelle.exe", "--step-clock", "soon"} << int(ERROR_INVALID_PARAMETER);
        QTest::newRow("one argument too many")
            << QStringList{"ostrelle.exe", "--step-clock", "5", "6"} << int(ERROR_INVALID_PARAMETER);
    }
    void shouldTakeOnlyItsOwnCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const std::optional<int> ran = ElevatedClockStepper::RunStepRequest(arguments);
        QCOMPARE(ran.value_or(-1), status);
    }

    // The real way: the program itself, started with the runas verb, steps from its own reading and
    // is refused for want of the time privilege, with the system's own reason.
    void shouldBeRefusedWithoutTheTimePrivilege()
    {
        if (!RunningUnderWine())
            QSKIP("Windows would show its consent prompt");
        if (MayMoveRealClock())
            QSKIP("this process could move the real clock: run it under setpriv --bounding-set=-sys_time");
        ElevatedClockStepper stepper(ElevatedClockStepper::RunasLauncher(QStringLiteral(OSTRELLE_PROGRAM)));
        QSignalSpy finished(&stepper, &ClockStepper::finished);
        // Two seconds: Wine takes a step of under half a second as made without making it.
        stepper.step(2s);
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.size(), 1);
        // Refused, with the system's reason: Wine's code for a refusal from Linux is not Windows's.
        QCOMPARE(finished.first().at(0).toBool(), false);
        QVERIFY(!finished.first().at(1).toString().isEmpty());
        QCOMPARE(finished.first().at(2).toBool(), false);
    }
};

QTEST_GUILESS_MAIN(ElevatedClockStepperTest)
#include "test_elevatedclockstepper.moc"
