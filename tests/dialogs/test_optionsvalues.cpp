#include "dialogs/optionsvalues.h"

#include <QTest>

using namespace ostrelle;

class TestOptionsValues : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowSecondsAsMinutes_data();
    void shouldShowSecondsAsMinutes();
    void shouldRoundHalfMinutesToEven_data();
    void shouldRoundHalfMinutesToEven();
};

void TestOptionsValues::shouldShowSecondsAsMinutes_data()
{
    QTest::addColumn<qlonglong>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("one minute keeps the plural unit") << 60LL << " 1 mins";
    QTest::newRow("zero has its blank") << 0LL << " 0 mins";
    QTest::newRow("ninety seconds") << 90LL << " 1.5 mins";
    QTest::newRow("half a minute") << 30LL << " 0.5 mins";
    QTest::newRow("a third is cut to two decimals") << 100LL << " 1.67 mins";
    QTest::newRow("trailing zero dropped") << 66LL << " 1.1 mins";
    QTest::newRow("one second is not shown as zero") << 1LL << " 0.02 mins";
    QTest::newRow("just under a minute") << 59LL << " 0.98 mins";
    QTest::newRow("beyond the slider") << 7200LL << " 120 mins";
    QTest::newRow("negative fraction") << -90LL << "-1.5 mins";
}

void TestOptionsValues::shouldShowSecondsAsMinutes()
{
    QFETCH(qlonglong, seconds);
    QTEST(MinutesText(seconds), "text");
}

void TestOptionsValues::shouldRoundHalfMinutesToEven_data()
{
    QTest::addColumn<qlonglong>("seconds");
    QTest::addColumn<qlonglong>("minutes");

    QTest::newRow("90 s up to even 2") << 90LL << 2LL;
    QTest::newRow("150 s down to even 2") << 150LL << 2LL;
    QTest::newRow("just below a half") << 89LL << 1LL;
    QTest::newRow("just above a half") << 91LL << 2LL;
    QTest::newRow("negative half to even") << -90LL << -2LL;
    QTest::newRow("largest stored value") << 2147483647LL << 35791394LL;
}

void TestOptionsValues::shouldRoundHalfMinutesToEven()
{
    QFETCH(qlonglong, seconds);
    QTEST(RoundedMinutes(seconds), "minutes");
}

QTEST_GUILESS_MAIN(TestOptionsValues)
#include "test_optionsvalues.moc"
