#include "history/historystatistics.h"

#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(QList<ostrelle::HistorySample>)

namespace {

// Offsets and round trips in milliseconds; a negative round trip stands for a time-out.
QList<HistorySample> samples(const QList<std::pair<double, double>>& values, int lastStratum = 1)
{
    QList<HistorySample> list;
    HistoryTime time = HistoryTime(1'780'000'000s);
    for (const auto& [offset, roundTrip] : values) {
        HistorySample s;
        s.time = time += 60s;
        s.server = QStringLiteral("s");
        if (roundTrip < 0) {
            s.outcome = PollOutcome::TimedOut;
        } else {
            s.offset = offset / 1000;
            s.roundTrip = roundTrip / 1000;
            s.stratum = 3;
        }
        list << s;
    }
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if (it->answered()) {
            it->stratum = lastStratum;
            it->referenceId = lastStratum == 1 ? std::array<std::uint8_t, 4>{'G', 'P', 'S', 0}
                                               : std::array<std::uint8_t, 4>{192, 168, 1, 7};
            break;
        }
    }
    return list;
}

} // namespace

class TestHistoryStatistics : public QObject
{
    Q_OBJECT

private slots:
    void shouldMatchHandWorkedFigures_data()
    {
        QTest::addColumn<QList<HistorySample>>("input");
        QTest::addColumn<int>("answered");
        QTest::addColumn<double>("availability");
        QTest::addColumn<double>("median");     // ms; NaN: none
        QTest::addColumn<double>("low");        // ms
        QTest::addColumn<double>("high");       // ms
        QTest::addColumn<double>("jitter");     // ms
        QTest::addColumn<double>("tripMedian"); // ms
        QTest::addColumn<QString>("reference");

        const double none = qQNaN();
        // Offsets 1, 3, 2, 6 ms: steps 2, -1, 4 -> sqrt((4 + 1 + 16) / 3) = sqrt(7).
        QTest::newRow("two time-outs among four answers")
            << samples({{1, 10}, {3, 20}, {0, -1}, {2, 30}, {0, -1}, {6, 40}}) << 4 << 400.0 / 6 << 2.5 << 1.0
            << 6.0 << std::sqrt(7.0) << 25.0 << QStringLiteral("GPS");
        // Steps -4, 4: RMS 4 although the mean step is 0.
        QTest::newRow("odd count, alternating")
            << samples({{-2, 5}, {-6, 7}, {-2, 6}}, 2) << 3 << 100.0 << -2.0 << -6.0 << -2.0 << 4.0 << 6.0
            << QStringLiteral("192.168.1.7");
        QTest::newRow("one answer has no jitter") << samples({{0, -1}, {0.5, 1}}) << 1 << 50.0 << 0.5 << 0.5
                                                  << 0.5 << none << 1.0 << QStringLiteral("GPS");
        QTest::newRow("no answer") << samples({{0, -1}, {0, -1}}) << 0 << 0.0 << none << none << none << none
                                   << none << QString();
        QTest::newRow("no sample") << QList<HistorySample>{} << 0 << 0.0 << none << none << none << none
                                   << none << QString();
    }

    void shouldMatchHandWorkedFigures()
    {
        QFETCH(QList<HistorySample>, input);
        QFETCH(int, answered);
        QFETCH(double, availability);
        QFETCH(double, median);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(double, jitter);
        QFETCH(double, tripMedian);
        QFETCH(QString, reference);

        const HistoryStatistics stats = ComputeHistoryStatistics(input);
        QCOMPARE(stats.samples, input.size());
        QCOMPARE(stats.answered, answered);
        QVERIFY2(qAbs(stats.availabilityPercent - availability) < 1e-9,
                 qPrintable(QString::number(stats.availabilityPercent)));
        const auto check = [](const std::optional<double>& value, double expectedMs, const char* what) {
            if (qIsNaN(expectedMs)) {
                QVERIFY2(!value, what);
                return;
            }
            QVERIFY2(value.has_value(), what);
            QVERIFY2(qAbs(*value * 1000 - expectedMs) < 1e-9,
                     qPrintable(QStringLiteral("%1: %2 ms").arg(QLatin1String(what)).arg(*value * 1000)));
        };
        check(stats.offsetMedian, median, "offset median");
        check(stats.offsetMin, low, "offset min");
        check(stats.offsetMax, high, "offset max");
        check(stats.jitter, jitter, "jitter");
        check(stats.roundTripMedian, tripMedian, "round-trip median");
        QCOMPARE(stats.lastReference, reference);
        QCOMPARE(stats.lastStratum.has_value(), answered > 0);
    }
};

QTEST_GUILESS_MAIN(TestHistoryStatistics)
#include "test_historystatistics.moc"
