#include "exactdouble.h"
#include "platform/fakes/fakeclock.h"
#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

using namespace ostrelle;

using Timestamp = std::array<std::uint8_t, 8>;

namespace {

const QDateTime NtpEpoch(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
constexpr double Base1990 = 2840140800.0;
constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double Infinity = std::numeric_limits<double>::infinity();

Timestamp timestampFromHex(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    Timestamp out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(bytes.at(static_cast<qsizetype>(i)));
    return out;
}

QByteArray hexOf(const Timestamp& t)
{
    return QByteArray(reinterpret_cast<const char*>(t.data()), static_cast<qsizetype>(t.size())).toHex(' ');
}

// NtpSeconds of a UTC instant, worked out by Qt's calendar rather than ours.
double ntpSecondsOf(const QDateTime& utc)
{
    return static_cast<double>(NtpEpoch.msecsTo(utc)) / 1000.0;
}

CalendarTime calendarOf(const QDateTime& utc)
{
    const QDate d = utc.date();
    const QTime t = utc.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

QString textOf(const std::optional<CalendarTime>& c)
{
    if (!c)
        return QStringLiteral("no calendar time");
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", c->year, c->month, c->day, c->hour, c->minute,
                             c->second);
}

} // namespace

class NtpTimeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void shouldApplyGregorianLeapRule_data();
    void shouldApplyGregorianLeapRule();
    void shouldGiveDaysOfMonth_data();
    void shouldGiveDaysOfMonth();
    void shouldAddUpMonthsToLengthOfYear_data();
    void shouldAddUpMonthsToLengthOfYear();

    void shouldReadClockAsNtpSeconds_data();
    void shouldReadClockAsNtpSeconds();

    void shouldDecodeTimestamp_data();
    void shouldDecodeTimestamp();
    void shouldEncodeTimestampTruncatingFractionModuloEra_data();
    void shouldEncodeTimestampTruncatingFractionModuloEra();

    void shouldPlaceValueInNearestEra_data();
    void shouldPlaceValueInNearestEra();
    void shouldCarryEraOneReadingOverWireAndBack_data();
    void shouldCarryEraOneReadingOverWireAndBack();

    void shouldConvertToCalendarTime_data();
    void shouldConvertToCalendarTime();
    void shouldAgreeWithQtCalendarFrom1900To9999();

    void shouldFormatDateAndTimeWithoutZoneName_data();
    void shouldFormatDateAndTimeWithoutZoneName();
    void shouldFormatWithDefaultLocale();

private:
    QByteArray m_savedTz;
};

void NtpTimeTest::initTestCase()
{
    // A local zone with a name of its own, so that a zone name leaking into a text shows up.
    m_savedTz = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
}

void NtpTimeTest::cleanupTestCase()
{
    if (m_savedTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", m_savedTz);
}

void NtpTimeTest::cleanup()
{
    QLocale::setDefault(QLocale::c());
}

void NtpTimeTest::shouldApplyGregorianLeapRule_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<bool>("leap");

    QTest::newRow("1900 century not divisible by 400") << 1900 << false;
    QTest::newRow("2000 divisible by 400") << 2000 << true;
    QTest::newRow("2004 divisible by 4") << 2004 << true;
    QTest::newRow("2006 common") << 2006 << false;
    QTest::newRow("2100 century") << 2100 << false;
    QTest::newRow("2400 divisible by 400") << 2400 << true;
}

void NtpTimeTest::shouldApplyGregorianLeapRule()
{
    QFETCH(int, year);
    QFETCH(bool, leap);
    QCOMPARE(IsLeapYear(year), leap);
}

void NtpTimeTest::shouldGiveDaysOfMonth_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("days");

    QTest::newRow("February of leap year 2004") << 2004 << 2 << 29;
    QTest::newRow("February of common year 2006") << 2006 << 2 << 28;
    QTest::newRow("February of century 1900") << 1900 << 2 << 28;
    QTest::newRow("February of 2000") << 2000 << 2 << 29;
    QTest::newRow("January") << 2006 << 1 << 31;
    QTest::newRow("April") << 2006 << 4 << 30;
    QTest::newRow("July") << 2006 << 7 << 31;
    QTest::newRow("August after July") << 2006 << 8 << 31;
    QTest::newRow("September") << 2006 << 9 << 30;
    QTest::newRow("December") << 2006 << 12 << 31;
}

void NtpTimeTest::shouldGiveDaysOfMonth()
{
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, days);
    QCOMPARE(DaysInMonth(year, month), days);
}

void NtpTimeTest::shouldAddUpMonthsToLengthOfYear_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("days");

    QTest::newRow("1900") << 1900 << 365;
    QTest::newRow("2000") << 2000 << 366;
    QTest::newRow("2004") << 2004 << 366;
    QTest::newRow("2006") << 2006 << 365;
}

void NtpTimeTest::shouldAddUpMonthsToLengthOfYear()
{
    QFETCH(int, year);
    QFETCH(int, days);
    int sum = 0;
    for (int month = 1; month <= 12; ++month) {
        QCOMPARE(DaysInMonth(year, month), QDate(year, month, 1).daysInMonth());
        sum += DaysInMonth(year, month);
    }
    QCOMPARE(sum, days);
}

void NtpTimeTest::shouldReadClockAsNtpSeconds_data()
{
    QTest::addColumn<QDateTime>("reading");
    QTest::addColumn<double>("expected");

    QTest::newRow("NTP epoch") << NtpEpoch << 0.0;
    QTest::newRow("1990 base") << QDateTime(QDate(1990, 1, 1), QTime(0, 0), Qt::UTC) << 2840140800.0;
    QTest::newRow("2006-03-10 15:13:22.125")
        << QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC) << 3350992402.125;

    for (const QDateTime& reading : {QDateTime(QDate(2004, 2, 29), QTime(23, 59, 59, 500), Qt::UTC),
                                     QDateTime(QDate(2000, 12, 31), QTime(12, 0, 0, 0), Qt::UTC),
                                     QDateTime(QDate(2100, 3, 1), QTime(0, 0, 1, 0), Qt::UTC),
                                     QDateTime(QDate(2036, 2, 7), QTime(6, 28, 16, 0), Qt::UTC)}) {
        QTest::addRow("%s", qPrintable(reading.toString(Qt::ISODateWithMs)))
            << reading << ntpSecondsOf(reading);
    }
}

void NtpTimeTest::shouldReadClockAsNtpSeconds()
{
    QFETCH(QDateTime, reading);
    QFETCH(double, expected);
    const FakeClock clock(reading);
    OSTRELLE_COMPARE_EXACT(NowNtpSeconds(clock), expected);
}

void NtpTimeTest::shouldDecodeTimestamp_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<double>("expected");

    QTest::newRow("zero is exactly 0") << QByteArray("0000000000000000") << 0.0;
    QTest::newRow("top bit set is large, not negative") << QByteArray("8000000000000000") << 2147483648.0;
    QTest::newRow("2006-03-10 15:13:22.125") << QByteArray("C7BC161220000000") << 3350992402.125;
    QTest::newRow("one fraction unit") << QByteArray("0000000000000001") << std::ldexp(1.0, -32);
    QTest::newRow("last whole second of era 0") << QByteArray("FFFFFFFF00000000") << 4294967295.0;
}

void NtpTimeTest::shouldDecodeTimestamp()
{
    QFETCH(QByteArray, hex);
    QFETCH(double, expected);
    const Timestamp bytes = timestampFromHex(hex.constData());
    OSTRELLE_COMPARE_EXACT(NtpTimestampToSeconds(bytes), expected);
}

void NtpTimeTest::shouldEncodeTimestampTruncatingFractionModuloEra_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("2006-03-10 15:13:22.125") << 3350992402.125 << QByteArray("C7BC161220000000");
    QTest::newRow("2^31") << 2147483648.0 << QByteArray("8000000000000000");
    QTest::newRow("zero") << 0.0 << QByteArray("0000000000000000");
    QTest::newRow("one and a half fraction units truncate to one")
        << std::ldexp(3.0, -33) << QByteArray("0000000000000001");
    QTest::newRow("half a fraction unit truncates to zero")
        << std::ldexp(1.0, -33) << QByteArray("0000000000000000");
    QTest::newRow("first instant of era 1 wraps to zero") << NtpEraLength << QByteArray("0000000000000000");
    QTest::newRow("era 1 keeps seconds within the era")
        << NtpEraLength + 1.5 << QByteArray("0000000180000000");
    QTest::newRow("negative wraps to the era before") << -0.5 << QByteArray("FFFFFFFF80000000");
    QTest::newRow("not a number") << NotANumber << QByteArray("0000000000000000");
    QTest::newRow("infinity") << Infinity << QByteArray("0000000000000000");
}

void NtpTimeTest::shouldEncodeTimestampTruncatingFractionModuloEra()
{
    QFETCH(double, seconds);
    QFETCH(QByteArray, hex);
    QCOMPARE(hexOf(SecondsToNtpTimestamp(seconds)), hexOf(timestampFromHex(hex.constData())));
}

void NtpTimeTest::shouldPlaceValueInNearestEra_data()
{
    QTest::addColumn<double>("eraSeconds");
    QTest::addColumn<double>("reference");
    QTest::addColumn<double>("expected");

    QTest::newRow("era 0 value near an era 0 clock stays")
        << 3350992402.125 << 3350992400.0 << 3350992402.125;
    QTest::newRow("value just after rollover, clock in era 1")
        << 100.0 << NtpEraLength + 50.0 << NtpEraLength + 100.0;
    QTest::newRow("value just after rollover, clock just before it")
        << 5.0 << NtpEraLength - 10.0 << NtpEraLength + 5.0;
    QTest::newRow("value just before rollover, clock just after it")
        << NtpEraLength - 10.0 << NtpEraLength + 5.0 << NtpEraLength - 10.0;
    QTest::newRow("small value near a 1900 clock stays") << 5.0 << 1000.0 << 5.0;
    QTest::newRow("two eras ahead") << 7.25 << 2 * NtpEraLength << 2 * NtpEraLength + 7.25;
}

void NtpTimeTest::shouldPlaceValueInNearestEra()
{
    QFETCH(double, eraSeconds);
    QFETCH(double, reference);
    QFETCH(double, expected);
    OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(eraSeconds, reference), expected);
}

void NtpTimeTest::shouldCarryEraOneReadingOverWireAndBack_data()
{
    QTest::addColumn<QDateTime>("reading");

    QTest::newRow("2040-06-15 08:30:45.250") << QDateTime(QDate(2040, 6, 15), QTime(8, 30, 45, 250), Qt::UTC);
    QTest::newRow("first second of era 1") << QDateTime(QDate(2036, 2, 7), QTime(6, 28, 16, 500), Qt::UTC);
    QTest::newRow("last second of era 0") << QDateTime(QDate(2036, 2, 7), QTime(6, 28, 15, 500), Qt::UTC);
}

void NtpTimeTest::shouldCarryEraOneReadingOverWireAndBack()
{
    QFETCH(QDateTime, reading);
    const FakeClock clock(reading);

    const double now = NowNtpSeconds(clock);
    const double decoded = NtpTimestampToSeconds(SecondsToNtpTimestamp(now));
    QVERIFY(decoded >= 0.0 && decoded < NtpEraLength);
    OSTRELLE_COMPARE_EXACT(decoded, std::fmod(now, NtpEraLength));

    const double placed = PlaceInNearestEra(decoded, now);
    OSTRELLE_COMPARE_EXACT(placed, now);
    QCOMPARE(textOf(NtpSecondsToDateTime(placed, Rounding::Floor)), textOf(calendarOf(reading)));
}

void NtpTimeTest::shouldConvertToCalendarTime_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<bool>("floor");
    QTest::addColumn<QString>("expected");

    const QString none = QStringLiteral("no calendar time");

    QTest::newRow("half second after base, nearest, tie to even")
        << 2840140800.5 << false << QStringLiteral("1990-01-01 00:00:00");
    QTest::newRow("one and a half after base, nearest, tie to even")
        << 2840140801.5 << false << QStringLiteral("1990-01-01 00:00:02");
    QTest::newRow("one and a half after base, floor")
        << 2840140801.5 << true << QStringLiteral("1990-01-01 00:00:01");
    QTest::newRow("nearest above a half rounds up")
        << 2840140800.75 << false << QStringLiteral("1990-01-01 00:00:01");
    QTest::newRow("2006 nearest") << 3350992402.125 << false << QStringLiteral("2006-03-10 15:13:22");
    QTest::newRow("2006 floor") << 3350992402.125 << true << QStringLiteral("2006-03-10 15:13:22");
    QTest::newRow("half second before base, floor")
        << Base1990 - 0.5 << true << QStringLiteral("1989-12-31 23:59:59");
    QTest::newRow("half second before base, nearest, tie to even")
        << Base1990 - 0.5 << false << QStringLiteral("1990-01-01 00:00:00");
    QTest::newRow("leap day 2004") << ntpSecondsOf(QDateTime(QDate(2004, 2, 29), QTime(0, 0), Qt::UTC))
                                   << true << QStringLiteral("2004-02-29 00:00:00");

    // Beyond the signed 32-bit seconds around 1990.
    QTest::newRow("NTP epoch, as a zero reference timestamp")
        << 0.0 << true << QStringLiteral("1900-01-01 00:00:00");
    QTest::newRow("small negative rounds to the epoch")
        << -0.4 << false << QStringLiteral("1900-01-01 00:00:00");
    QTest::newRow("2058 past 32-bit seconds")
        << 4987624448.0 << true << QStringLiteral("2058-01-19 03:14:08");
    QTest::newRow("2200") << ntpSecondsOf(QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC)) << true
                          << QStringLiteral("2200-01-01 00:00:00");
    QTest::newRow("last calendar second") << 255611289599.0 << true << QStringLiteral("9999-12-31 23:59:59");

    QTest::newRow("before 1900") << -1.0 << true << none;
    QTest::newRow("before 1900 after rounding") << -0.6 << false << none;
    QTest::newRow("after 9999") << 255611289600.0 << true << none;
    QTest::newRow("after 9999 after rounding") << 255611289599.5 << false << none;
    QTest::newRow("too large for 64 bits") << 1e300 << true << none;
    QTest::newRow("too small for 64 bits") << -1e300 << false << none;
    QTest::newRow("not a number") << NotANumber << false << none;
    QTest::newRow("infinity") << Infinity << true << none;
    QTest::newRow("minus infinity") << -Infinity << true << none;
}

void NtpTimeTest::shouldConvertToCalendarTime()
{
    QFETCH(double, t);
    QFETCH(bool, floor);
    QFETCH(QString, expected);
    QCOMPARE(textOf(NtpSecondsToDateTime(t, floor ? Rounding::Floor : Rounding::Nearest)), expected);
}

void NtpTimeTest::shouldAgreeWithQtCalendarFrom1900To9999()
{
    constexpr quint32 seed = 20060310;
    QRandomGenerator random(seed);
    for (int i = 0; i < 2000; ++i) {
        const qint64 seconds = static_cast<qint64>(random.bounded(255611289600.0));
        const QDateTime expected = NtpEpoch.addSecs(seconds);
        const auto actual = NtpSecondsToDateTime(static_cast<double>(seconds), Rounding::Floor);
        QVERIFY2(actual == calendarOf(expected),
                 qPrintable(QStringLiteral("seed %1, t = %2: %3, expected %4")
                                .arg(seed)
                                .arg(seconds)
                                .arg(textOf(actual), expected.toString(Qt::ISODate))));
    }
}

void NtpTimeTest::shouldFormatDateAndTimeWithoutZoneName_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("expected");

    const QDateTime afternoon(QDate(2006, 3, 10), QTime(15, 13, 22), Qt::UTC);
    const QDateTime midnight(QDate(2006, 3, 10), QTime(0, 0), Qt::UTC);

    QTest::newRow("en_GB") << "en_GB" << afternoon << "10/03/2006 15:13:22";
    QTest::newRow("en_GB midnight shows the date alone") << "en_GB" << midnight << "10/03/2006";
    QTest::newRow("en_GB one second past midnight")
        << "en_GB" << midnight.addSecs(1) << "10/03/2006 00:00:01";
    QTest::newRow("en_US twelve-hour") << "en_US" << afternoon << "3/10/06 3:13:22 PM";
    QTest::newRow("de_DE") << "de_DE" << afternoon << "10.03.06 15:13:22";
    QTest::newRow("eu_ES zone in brackets") << "eu_ES" << afternoon << "06/3/10 15:13:22";
    QTest::newRow("sq_AL zone after a comma") << "sq_AL" << afternoon << "10.3.06 3:13:22 E PASDITES";
    QTest::newRow("my_MM zone in front") << "my_MM" << afternoon << QString::fromUtf8("၁၀-၀၃-၀၆ ၁၅:၁၃:၂၂");
    QTest::newRow("fr_CA quoted letters kept") << "fr_CA" << afternoon << "2006-03-10 15 h 13 min 22 s";
}

void NtpTimeTest::shouldFormatDateAndTimeWithoutZoneName()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, time);
    QFETCH(QString, expected);
    QCOMPARE(DateTimeText(calendarOf(time), QLocale(locale)), expected);
}

void NtpTimeTest::shouldFormatWithDefaultLocale()
{
    const CalendarTime time{2006, 3, 10, 15, 13, 22};
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QCOMPARE(DateTimeText(time), QStringLiteral("10/03/2006 15:13:22"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(DateTimeText(time), QStringLiteral("10.03.06 15:13:22"));
}

QTEST_GUILESS_MAIN(NtpTimeTest)
#include "test_ntptime.moc"
