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
    void shouldSetTimeCutToTheMillisecondOrLeaveTheClock_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<qint64>("handedToClock"); // ms since 1970; -1 when the clock is not asked
        const double at2006 = 3350992402.0;        // 2006-03-10 15:13:22 UTC
        const qint64 ms2006 = 1142003602000;
        QTest::newRow("125.7 ms cut") << at2006 + 0.1257 << false << ms2006 + 125;
        QTest::newRow(".9995 stays 999") << at2006 + 0.9995 << false << ms2006 + 999;
        QTest::newRow("refused by the platform") << at2006 + 0.125 << true << ms2006 + 125;
        QTest::newRow("no calendar form") << -0.001 << false << qint64(-1);
    }
    void shouldSetTimeCutToTheMillisecondOrLeaveTheClock()
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
                                          : qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       clock.setCalls.first().time_since_epoch())
                                                       .count()),
                 handedToClock);
        QCOMPARE(clock.now() == before, !set);
    }
};

QTEST_GUILESS_MAIN(ClockAdjustTest)
#include "test_clockadjust.moc"
