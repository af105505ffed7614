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
        QTest::addColumn<QDateTime>("expected");
        const QDate day(2006, 3, 10);
        QTest::newRow("1.5 s forward")
            << qint64(1'500'000'000) << false << QDateTime(day, QTime(15, 13, 23, 625), Qt::UTC);
        QTest::newRow("an hour back, across nothing")
            << qint64(-3'600'000'000'000) << false << QDateTime(day, QTime(14, 13, 22, 125), Qt::UTC);
        QTest::newRow("to the nearest millisecond")
            << qint64(-600'000) << false << QDateTime(day, QTime(15, 13, 22, 124), Qt::UTC);
        QTest::newRow("past midnight into the next month")
            << qint64(22LL * 86'400'000'000'000 + 8LL * 3'600'000'000'000) << false
            << QDateTime(QDate(2006, 4, 1), QTime(23, 13, 22, 125), Qt::UTC);
        QTest::newRow("refused by the system")
            << qint64(1'000'000'000) << true << QDateTime(day, QTime(15, 13, 23, 125), Qt::UTC);
    }
    void shouldSetTheClockReadPlusTheOffset()
    {
        QFETCH(qint64, offsetNs);
        QFETCH(bool, refuse);
        QFETCH(QDateTime, expected);
        FakeClock clock(QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC));
        clock.refuseSet = refuse;
        DirectClockStepper stepper(clock);
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(std::chrono::nanoseconds(offsetNs));

        QCOMPARE(clock.setCalls.size(), 1);
        const SYSTEMTIME& set = clock.setCalls.first();
        QCOMPARE(QDateTime(QDate(set.wYear, set.wMonth, set.wDay),
                           QTime(set.wHour, set.wMinute, set.wSecond, set.wMilliseconds), Qt::UTC),
                 expected);
        QCOMPARE(int(set.wDayOfWeek), expected.date().dayOfWeek() % 7);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), !refuse);
        QCOMPARE(finished.first().at(1).toString().isEmpty(), !refuse);
        QCOMPARE(finished.first().at(2).toBool(), false);
    }

    // The kernel's own account of this process's capabilities must give the same answer.
    void shouldKnowWhetherThisProcessMaySetTheClock()
    {
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
