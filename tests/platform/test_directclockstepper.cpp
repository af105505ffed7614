#include "platform/directclockstepper.h"
#include "platform/fakes/fakeclock.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;

class DirectClockStepperTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSetTheClockReadPlusTheOffset_data()
    {
        QTest::addColumn<qint64>("offsetNs");
        QTest::addColumn<bool>("refuse");
        QTest::newRow("an hour back") << qint64(-3'600'000'000'000) << false;
        QTest::newRow("below the millisecond, kept") << qint64(-600'123) << false;
        QTest::newRow("refused by the system") << qint64(1'000'000'000) << true;
    }
    void shouldSetTheClockReadPlusTheOffset()
    {
        QFETCH(qint64, offsetNs);
        QFETCH(bool, refuse);
        FakeClock clock;
        const FakeClock::TimePoint readAt = clock.now();
        clock.refuseSet = refuse;
        DirectClockStepper stepper(clock);
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(std::chrono::nanoseconds(offsetNs));

        QCOMPARE(clock.setCalls.size(), 1);
        QCOMPARE((clock.setCalls.first() - readAt).count(), offsetNs);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), !refuse);
        QCOMPARE(finished.first().at(1).toString().isEmpty(), !refuse);
        QCOMPARE(finished.first().at(2).toBool(), false);
    }

    // The kernel's own account of this process's capabilities must give the same answer.
    void shouldKnowWhetherThisProcessMaySetTheClock()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows grants the clock by the token's privilege, which Wine gives whatever Linux allows");
#endif
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            QSKIP("no /proc/self/status on this system");
        bool ok = false;
        qulonglong effective = 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("CapEff:"))
                effective = line.mid(7).trimmed().toULongLong(&ok, 16);
        }
        QVERIFY(ok);
        constexpr int capSysTime = 25;
        QCOMPARE(MaySetClockDirectly(), ((effective >> capSysTime) & 1) != 0);
    }
};

QTEST_GUILESS_MAIN(DirectClockStepperTest)
#include "test_directclockstepper.moc"
