#include "exactdouble.h"
#include "platform/fakes/fakeclock.h"
#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

using namespace ostrelle;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

QString textOf(const std::optional<CalendarTime>& c)
{
    return c ? QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", c->year, c->month, c->day, c->hour,
                                 c->minute, c->second)
             : QStringLiteral("none");
}

} // namespace

Q_DECLARE_METATYPE(ostrelle::CalendarTime)

class NtpTimeTest : public QObject
{
    Q_OBJECT

private slots:
    // A zone with a name of its own, so that a zone name leaking into a text shows up.
    void initTestCase() { qputenv("TZ", "America/New_York"); }

    void shouldFollowGregorianCalendar()
    {
        for (const int year : {1900, 2000, 2004, 2006, 2100}) {
            QCOMPARE(IsLeapYear(year), QDate::isLeapYear(year));
            for (int month = 1; month <= 12; ++month) {
                QCOMPARE(DaysInMonth(year, month), QDate(year, month, 1).daysInMonth());
                QCOMPARE(int(MonthDays.at(month)), QDate(2006, month, 1).daysInMonth());
            }
        }
    }

    void shouldReadClockAsNtpSeconds()
    {
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(FakeClock(utc(1900, 1, 1, 0, 0, 0))), 0.0);
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(FakeClock(utc(1990, 1, 1, 0, 0, 0))), 2840140800.0);
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(FakeClock(utc(2006, 3, 10, 15, 13, 22, 125))), 3350992402.125);
    }

    void shouldConvertTimestamps_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<double>("decoded");
        QTest::newRow("zero") << 0.0 << QByteArray("0000000000000000") << 0.0;
        QTest::newRow("2006") << 3350992402.125 << QByteArray("C7BC161220000000") << 3350992402.125;
        QTest::newRow("one fraction unit") << 0x1p-32 << QByteArray("0000000000000001") << 0x1p-32;
        QTest::newRow("fraction truncated") << 0x3p-33 << QByteArray("0000000000000001") << 0x1p-32;
        QTest::newRow("era 1 wraps") << NtpEraLength + 1.5 << QByteArray("0000000180000000") << 1.5;
        QTest::newRow("negative wraps") << -0.5 << QByteArray("FFFFFFFF80000000") << NtpEraLength - 0.5;
        QTest::newRow("not a number") << qQNaN() << QByteArray("0000000000000000") << 0.0;
    }
    void shouldConvertTimestamps()
    {
        QFETCH(double, seconds);
        QFETCH(QByteArray, hex);
        QFETCH(double, decoded);
        const std::array<std::uint8_t, 8> wire = SecondsToNtpTimestamp(seconds);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(wire.data()), 8).toHex().toUpper(), hex);
        OSTRELLE_COMPARE_EXACT(NtpTimestampToSeconds(wire), decoded);
    }

    void shouldKeepWorkingAcrossEraRollover()
    {
        const double now = NowNtpSeconds(FakeClock(utc(2040, 6, 15, 8, 30, 45, 250)));
        OSTRELLE_COMPARE_EXACT(NtpTimestampToSeconds(SecondsToNtpTimestamp(now)), now - NtpEraLength);
        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(now - NtpEraLength, now), now);
        QCOMPARE(textOf(NtpSecondsToDateTime(now, Rounding::Floor)), QStringLiteral("2040-06-15 08:30:45"));

        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(5.0, NtpEraLength - 10.0), NtpEraLength + 5.0);
        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(NtpEraLength - 10.0, NtpEraLength + 5.0),
                               NtpEraLength - 10.0);
        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(7.25, 2 * NtpEraLength), 2 * NtpEraLength + 7.25);
    }

    void shouldConvertToCalendarTime_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<bool>("floor");
        QTest::addColumn<QString>("expected");
        const double base = NtpSecondsAt1990;
        QTest::newRow("nearest, tie down to even") << base + 0.5 << false << "1990-01-01 00:00:00";
        QTest::newRow("nearest, tie up to even") << base + 1.5 << false << "1990-01-01 00:00:02";
        QTest::newRow("floor before the 1990 base") << base - 0.5 << true << "1989-12-31 23:59:59";
        QTest::newRow("small negative rounds to the epoch") << -0.4 << false << "1900-01-01 00:00:00";
        QTest::newRow("last calendar second") << 255611289599.0 << true << "9999-12-31 23:59:59";
        QTest::newRow("before 1900") << -1.0 << true << "none";
        QTest::newRow("after 9999") << 255611289600.0 << true << "none";
        QTest::newRow("too large for 64 bits") << 1e300 << true << "none";
        QTest::newRow("not a number") << qQNaN() << false << "none";
    }
    void shouldConvertToCalendarTime()
    {
        QFETCH(double, t);
        QFETCH(bool, floor);
        QFETCH(QString, expected);
        QCOMPARE(textOf(NtpSecondsToDateTime(t, floor ? Rounding::Floor : Rounding::Nearest)), expected);
    }

    void shouldAgreeWithQtCalendarFrom1900To9999()
    {
        QRandomGenerator random(20060310);
        for (int i = 0; i < 2000; ++i) {
            const auto seconds = static_cast<qint64>(random.bounded(255611289600.0));
            QCOMPARE(textOf(NtpSecondsToDateTime(double(seconds), Rounding::Floor)),
                     utc(1900, 1, 1, 0, 0, 0).addSecs(seconds).toString(u"yyyy-MM-dd HH:mm:ss"));
        }
    }

    void shouldFormatDateAndTimeWithoutZoneName_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<CalendarTime>("time");
        QTest::addColumn<QString>("expected");
        const CalendarTime afternoon{2006, 3, 10, 15, 13, 22};
        QTest::newRow("en_GB") << "en_GB" << afternoon << "10/03/2006 15:13:22";
        QTest::newRow("midnight") << "en_GB" << CalendarTime{2006, 3, 10} << "10/03/2006";
        QTest::newRow("00:00:01") << "en_GB" << CalendarTime{2006, 3, 10, 0, 0, 1} << "10/03/2006 00:00:01";
        QTest::newRow("zh_CN zone in front") << "zh_CN" << afternoon << "2006/3/10 15:13:22";
        QTest::newRow("eu_ES zone in brackets") << "eu_ES" << afternoon << "06/3/10 15:13:22";
        QTest::newRow("fr_CA quoted letters kept") << "fr_CA" << afternoon << "2006-03-10 15 h 13 min 22 s";
    }
    void shouldFormatDateAndTimeWithoutZoneName()
    {
        QFETCH(QString, locale);
        QFETCH(CalendarTime, time);
        QFETCH(QString, expected);
        QCOMPARE(DateTimeText(time, QLocale(locale)), expected);
    }
};

QTEST_GUILESS_MAIN(NtpTimeTest)
#include "test_ntptime.moc"
