#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "timekeeping/clockadjust.h"

#include <QDateTime>
#include <QTest>
#include <cmath>
#include <limits>

using namespace ostrelle;

namespace {

const QDateTime NtpEpoch(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
constexpr double At2006 = 3350992402.0; // 2006-03-10 15:13:22 UTC
constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double Infinity = std::numeric_limits<double>::infinity();

QString textOf(const std::optional<SYSTEMTIME>& s)
{
    if (!s)
        return QStringLiteral("no calendar time");
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d dow %d", s->wYear, s->wMonth, s->wDay,
                             s->wHour, s->wMinute, s->wSecond, s->wMilliseconds, s->wDayOfWeek);
}

double ntpSecondsOf(const QDateTime& utc)
{
    return static_cast<double>(NtpEpoch.msecsTo(utc)) / 1000.0;
}

} // namespace

class ClockAdjustTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldFloorSecondAndTruncateMilliseconds_data();
    void shouldFloorSecondAndTruncateMilliseconds();

    void shouldStepClockEitherWayWithoutMessage_data();
    void shouldStepClockEitherWayWithoutMessage();
    void shouldShowOneWarningPerRefusalAndLeaveClockAlone();
    void shouldRefuseTimeWithoutCalendarFormWithoutTouchingClock_data();
    void shouldRefuseTimeWithoutCalendarFormWithoutTouchingClock();
};

void ClockAdjustTest::shouldFloorSecondAndTruncateMilliseconds_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<QString>("expected");

    const QString none = QStringLiteral("no calendar time");

    QTest::newRow("125 ms, day of week 0") << At2006 + 0.125 << "2006-03-10 15:13:22.125 dow 0";
    QTest::newRow("whole second") << At2006 << "2006-03-10 15:13:22.000 dow 0";
    QTest::newRow(".9995 stays 999 without carrying the second")
        << At2006 + 0.9995 << "2006-03-10 15:13:22.999 dow 0";
    QTest::newRow("last representable fraction of the second")
        << std::nextafter(At2006 + 1.0, 0.0) << "2006-03-10 15:13:22.999 dow 0";
    QTest::newRow("1 ms before the 1990 base") << 2840140800.0 - 0.001 << "1989-12-31 23:59:59.999 dow 0";
    QTest::newRow("largest fraction of the epoch's first second")
        << std::nextafter(1.0, 0.0) << "1900-01-01 00:00:00.999 dow 0";
    QTest::newRow("2040 in era 1") << ntpSecondsOf(
                                          QDateTime(QDate(2040, 6, 15), QTime(8, 30, 45, 250), Qt::UTC))
                                   << "2040-06-15 08:30:45.250 dow 0";

    QTest::newRow("before 1900") << -0.001 << none;
    QTest::newRow("after 9999") << 255611289600.0 << none;
    QTest::newRow("not a number") << NotANumber << none;
    QTest::newRow("infinity") << Infinity << none;
}

void ClockAdjustTest::shouldFloorSecondAndTruncateMilliseconds()
{
    QFETCH(double, t);
    QFETCH(QString, expected);
    QCOMPARE(textOf(SystemTimeFor(t)), expected);
}

void ClockAdjustTest::shouldStepClockEitherWayWithoutMessage_data()
{
    QTest::addColumn<QDateTime>("clockBefore");
    QTest::addColumn<double>("t");
    QTest::addColumn<QDateTime>("clockAfter");

    const QDateTime target(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC);
    QTest::newRow("forwards by an hour") << target.addSecs(-3600) << At2006 + 0.125 << target;
    QTest::newRow("backwards by a day") << target.addDays(1) << At2006 + 0.125 << target;
    QTest::newRow("backwards across 1990")
        << target << 2840140800.0 - 0.5 << QDateTime(QDate(1989, 12, 31), QTime(23, 59, 59, 500), Qt::UTC);
}

void ClockAdjustTest::shouldStepClockEitherWayWithoutMessage()
{
    QFETCH(QDateTime, clockBefore);
    QFETCH(double, t);
    QFETCH(QDateTime, clockAfter);
    FakeClock clock(clockBefore);
    ScriptedMessageDialog messages;

    QVERIFY(SetSystemClock(t, clock, messages));

    QCOMPARE(clock.now(), clockAfter);
    QCOMPARE(clock.setCalls.size(), 1);
    QCOMPARE(clock.setCalls.first().wDayOfWeek, std::uint16_t{0});
    QVERIFY(messages.shown.isEmpty());
}

void ClockAdjustTest::shouldShowOneWarningPerRefusalAndLeaveClockAlone()
{
    const QDateTime before(QDate(2006, 3, 10), QTime(15, 0), Qt::UTC);
    FakeClock clock(before);
    clock.refuseSet = true;
    ScriptedMessageDialog messages;

    QVERIFY(!SetSystemClock(At2006 + 0.125, clock, messages));

    QCOMPARE(clock.now(), before);
    QCOMPARE(clock.setCalls.size(), 1);
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageDialog::Shown& shown = messages.shown.first();
    QCOMPARE(shown.text, QStringLiteral("Unable to set system time."));
    QCOMPARE(shown.title, QStringLiteral("Ostrelle"));
    QCOMPARE(shown.icon, MessageDialog::Icon::Warning);
    QCOMPARE(shown.buttons, MessageDialog::Buttons::Ok);
    QCOMPARE(shown.defaultButton, MessageDialog::Button::Ok);

    // Not retried, not remembered: the next refusal is reported again, once.
    QVERIFY(!SetSystemClock(At2006 + 1.0, clock, messages));
    QCOMPARE(clock.setCalls.size(), 2);
    QCOMPARE(messages.shown.size(), 2);
}

void ClockAdjustTest::shouldRefuseTimeWithoutCalendarFormWithoutTouchingClock_data()
{
    QTest::addColumn<double>("t");

    QTest::newRow("before 1900") << -5.0;
    QTest::newRow("after 9999") << 1e20;
    QTest::newRow("not a number") << NotANumber;
    QTest::newRow("minus infinity") << -Infinity;
}

void ClockAdjustTest::shouldRefuseTimeWithoutCalendarFormWithoutTouchingClock()
{
    QFETCH(double, t);
    const QDateTime before(QDate(2006, 3, 10), QTime(15, 0), Qt::UTC);
    FakeClock clock(before);
    ScriptedMessageDialog messages;

    QVERIFY(!SetSystemClock(t, clock, messages));

    QVERIFY(clock.setCalls.isEmpty());
    QCOMPARE(clock.now(), before);
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown.first().text, QStringLiteral("Unable to set system time."));
    QCOMPARE(messages.shown.first().title, QStringLiteral("Ostrelle"));
    QCOMPARE(messages.shown.first().icon, MessageDialog::Icon::Warning);
}

QTEST_GUILESS_MAIN(ClockAdjustTest)
#include "test_clockadjust.moc"
