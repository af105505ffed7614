#include "exactdouble.h"
#include "platform/fakes/fakeclock.h"
#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>
#include <QTest>
#include <QTimeZone>

using namespace ostrelle;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

// The UTC time of NtpSeconds t to the millisecond, or "none".
QString textOf(double t)
{
    const std::optional<UtcTime> time = UtcTimeFromNtpSeconds(t);
    if (!time)
        return QStringLiteral("none");
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(time->time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(u"yyyy-MM-dd HH:mm:ss.zzz");
}

constexpr double At1990 = 2840140800.0; // 1990-01-01 00:00:00 UTC

} // namespace

class NtpTimeTest : public QObject
{
    Q_OBJECT

private slots:
    // A zone with a name of its own, so that a zone name leaking into a text shows up.
    void initTestCase() { qputenv("TZ", "America/New_York"); }

    void shouldRoundHalvesToEven_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("rounded");
        QTest::newRow("0.5 down") << 0.5 << 0.0;
        QTest::newRow("1.5 up") << 1.5 << 2.0;
        QTest::newRow("-2.5 to -2") << -2.5 << -2.0;
        QTest::newRow("just above a half") << std::nextafter(0.5, 1.0) << 1.0;
    }
    void shouldRoundHalvesToEven()
    {
        QFETCH(double, x);
        QFETCH(double, rounded);
        OSTRELLE_COMPARE_EXACT(RoundHalfToEven(x), rounded);
    }

    void shouldReadClockAsNtpSeconds()
    {
        FakeClock fine;
        fine.setNow(UtcTime(std::chrono::nanoseconds(1142003602125000500)));
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(fine), 3350992402.1250005);
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(FakeClock(utc(1900, 1, 1, 0, 0, 0))), 0.0);
        OSTRELLE_COMPARE_EXACT(NowNtpSeconds(FakeClock(utc(2006, 3, 10, 15, 13, 22, 125))), 3350992402.125);
    }

    void shouldConvertTimestamps_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<double>("decoded");
        QTest::newRow("zero") << 0.0 << QByteArray("0000000000000000") << 0.0;
        QTest::newRow("2006") << 3350992402.125 << QByteArray("C7BC161220000000") << 3350992402.125;
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
        QCOMPARE(textOf(now), QStringLiteral("2040-06-15 08:30:45.250"));

        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(5.0, NtpEraLength - 10.0), NtpEraLength + 5.0);
        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(NtpEraLength - 10.0, NtpEraLength + 5.0),
                               NtpEraLength - 10.0);
        OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(7.25, 2 * NtpEraLength), 2 * NtpEraLength + 7.25);
    }

    void shouldConvertToUtcTimeCutToTheMillisecond_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("expected");
        QTest::newRow("125.7 ms cut") << At1990 + 0.1257 << "1990-01-01 00:00:00.125";
        QTest::newRow("last fraction of the second")
            << std::nextafter(At1990 + 1.0, 0.0) << "1990-01-01 00:00:00.999";
        QTest::newRow("before the 1970 offset") << 0.5 << "1900-01-01 00:00:00.500";
        QTest::newRow("last second a time point holds") << 11432360835.5 << "2262-04-11 23:47:15.500";
        QTest::newRow("before 1900") << -0.001 << "none";
        QTest::newRow("beyond a time point") << 11432360836.0 << "none";
        QTest::newRow("too large for 64 bits") << 1e300 << "none";
        QTest::newRow("not a number") << qQNaN() << "none";
    }
    void shouldConvertToUtcTimeCutToTheMillisecond()
    {
        QFETCH(double, t);
        QTEST(textOf(t), "expected");
    }

    void shouldAgreeWithQtFrom1900To2262()
    {
        QRandomGenerator random(20060310);
        for (int i = 0; i < 2000; ++i) {
            const auto seconds = static_cast<qint64>(random.bounded(11432360836.0));
            QCOMPARE(textOf(double(seconds)),
                     utc(1900, 1, 1, 0, 0, 0).addSecs(seconds).toString(u"yyyy-MM-dd HH:mm:ss.zzz"));
            OSTRELLE_COMPARE_EXACT(ToNtpSeconds(*UtcTimeFromNtpSeconds(double(seconds))), double(seconds));
        }
    }

    void shouldFormatDateAndTimeWithoutZoneName_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("expected");
        const double afternoon = 3350992402.0; // 2006-03-10 15:13:22
        const double midnight = afternoon - 15 * 3600 - 13 * 60 - 22;
        QTest::newRow("en_GB") << "en_GB" << afternoon << "10/03/2006 15:13:22";
        QTest::newRow("tie down to even") << "en_GB" << afternoon + 0.5 << "10/03/2006 15:13:22";
        QTest::newRow("tie up to even") << "en_GB" << afternoon + 1.5 << "10/03/2006 15:13:24";
        QTest::newRow("midnight") << "en_GB" << midnight << "10/03/2006";
        QTest::newRow("00:00:01") << "en_GB" << midnight + 1.0 << "10/03/2006 00:00:01";
        QTest::newRow("small negative rounds to the epoch") << "en_GB" << -0.4 << "01/01/1900";
        QTest::newRow("last calendar second") << "en_GB" << 255611289599.0 << "31/12/9999 23:59:59";
        QTest::newRow("no calendar form") << "en_GB" << -1.0 << "";
        QTest::newRow("after 9999") << "en_GB" << 255611289599.5 << "";
        QTest::newRow("zh_CN zone in front") << "zh_CN" << afternoon << "2006/3/10 15:13:22";
        QTest::newRow("fr_CA quoted letters kept") << "fr_CA" << afternoon << "2006-03-10 15 h 13 min 22 s";
    }
    void shouldFormatDateAndTimeWithoutZoneName()
    {
        QFETCH(QString, locale);
        QFETCH(double, t);
        QTEST(DateTimeText(t, QLocale(locale)), "expected");
    }
};

QTEST_GUILESS_MAIN(NtpTimeTest)
#include "test_ntptime.moc"
