#include "platform/fakes/fakeclock.h"
#include "timekeeping/clockadjust.h"
#include "timekeeping/ntptime.h"

#include <QTest>
#include <QTimeZone>
#include <cmath>

using namespace ostrelle;

class ClockAdjustTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSetTimeCutToTheNanosecondOrLeaveTheClock_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<qint64>("handedToClock"); // ns since 1970; -1 when the clock is not asked
        const double at2006 = 3350992402.0;        // 2006-03-10 15:13:22 UTC
        const qint64 ns2006 = 1142003602000000000;
        // 2^-21 s steps are exact in a double of this size; the clock gets them to the nanosecond.
        QTest::newRow("sub-millisecond kept") << at2006 + 0x1p-21 << false << ns2006 + 476;
        QTest::newRow("125 ms and 2^-20 s") << at2006 + 0.125 + 0x1p-20 << false << ns2006 + 125000953;
        QTest::newRow("just below the next second cut")
            << at2006 + (1.0 - 0x1p-21) << false << ns2006 + 999999523;
        QTest::newRow("refused by the platform") << at2006 + 0.125 << true << ns2006 + 125000000;
        QTest::newRow("no calendar form") << -0.001 << false << qint64(-1);
    }
    void shouldSetTimeCutToTheNanosecondOrLeaveTheClock()
    {
        QFETCH(double, t);
        QFETCH(bool, refuse);
        QFETCH(qint64, handedToClock);
        FakeClock clock(QDateTime(QDate(2006, 3, 10), QTime(15, 0), QTimeZone::utc()));
        const auto before = clock.now();
        clock.refuseSet = refuse;
        const bool set = !refuse && handedToClock != -1;

        QCOMPARE(SetSystemClock(t, clock), set);
        QCOMPARE(clock.setCalls.isEmpty() ? qint64(-1)
                                          : qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                       clock.setCalls.first().time_since_epoch())
                                                       .count()),
                 handedToClock);
        QCOMPARE(clock.now() == before, !set);
    }
};

QTEST_GUILESS_MAIN(ClockAdjustTest)
#include "test_clockadjust.moc"
