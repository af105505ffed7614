#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "timekeeping/clockadjust.h"

#include <QTest>
#include <cmath>

using namespace ostrelle;

namespace {

constexpr double At2006 = 3350992402.0; // 2006-03-10 15:13:22 UTC

QString textOf(const SYSTEMTIME& s)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d dow %d", s.wYear, s.wMonth, s.wDay, s.wHour,
                             s.wMinute, s.wSecond, s.wMilliseconds, s.wDayOfWeek);
}

} // namespace

class ClockAdjustTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSetFlooredTimeOrShowOneWarning_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("handedToClock");
        QTest::newRow("125.7 ms truncated") << At2006 + 0.1257 << false << "2006-03-10 15:13:22.125 dow 0";
        QTest::newRow(".9995 stays 999") << At2006 + 0.9995 << false << "2006-03-10 15:13:22.999 dow 0";
        QTest::newRow("last fraction of the second")
            << std::nextafter(At2006 + 1.0, 0.0) << false << "2006-03-10 15:13:22.999 dow 0";
        QTest::newRow("refused by the platform") << At2006 + 0.125 << true << "2006-03-10 15:13:22.125 dow 0";
        QTest::newRow("no calendar form") << -0.001 << false << "none";
    }
    void shouldSetFlooredTimeOrShowOneWarning()
    {
        QFETCH(double, t);
        QFETCH(bool, refuse);
        QFETCH(QString, handedToClock);
        const QDateTime before(QDate(2006, 3, 10), QTime(15, 0), Qt::UTC);
        FakeClock clock(before);
        clock.refuseSet = refuse;
        ScriptedMessageDialog messages;
        const bool set = !refuse && handedToClock != QStringLiteral("none");

        QCOMPARE(SetSystemClock(t, clock, messages), set);
        QCOMPARE(clock.setCalls.isEmpty() ? QStringLiteral("none") : textOf(clock.setCalls.first()),
                 handedToClock);
        QCOMPARE(clock.now() == before, !set);
        QCOMPARE(messages.shown.size(), set ? 0 : 1);
        if (!set) {
            QCOMPARE(messages.shown.first().text, QStringLiteral("Unable to set system time."));
            QCOMPARE(messages.shown.first().title, QStringLiteral("Ostrelle"));
            QCOMPARE(messages.shown.first().icon, MessageDialog::Icon::Warning);
            QCOMPARE(messages.shown.first().buttons, MessageDialog::Buttons::Ok);
        }
    }
};

QTEST_GUILESS_MAIN(ClockAdjustTest)
#include "test_clockadjust.moc"
