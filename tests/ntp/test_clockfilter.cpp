#include "ntp/clockfilter.h"

#include <QTest>
#include <cmath>

using namespace ostrelle;

namespace {

// "offset/roundTrip[/receivedAt]" an answer, "-" a lost sample, "x" an answer without timestamps.
QList<PollStep> samplesFrom(const QString& text)
{
    QList<PollStep> samples;
    for (const QString& entry : text.split(u' ', Qt::SkipEmptyParts)) {
        PollStep step;
        if (entry != QLatin1String("-")) {
            step.answered = true;
            step.reading.hasTimestamps = entry != QLatin1String("x");
            step.reading.offsetSeconds = entry.section(u'/', 0, 0).toDouble();
            step.reading.roundTripSeconds = entry.section(u'/', 1, 1).toDouble();
            step.reading.receivedAt = entry.section(u'/', 2, 2).toDouble();
        }
        samples.append(step);
    }
    return samples;
}

} // namespace

class TestClockFilter : public QObject
{
    Q_OBJECT
private slots:
    void shouldBelieveWhatEveryAnswerAllows_data()
    {
        QTest::addColumn<QString>("samples");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("answered");
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("jitter");
        // Received at 0 and filtered at 1,000 s: each span is widened by 15 ms of drift.
        QTest::newRow("least delay wins") << "0.010/0.030 0.001/0.002 -0.008/0.020" << 1 << 3 << 0.001
                                          << std::sqrt((0.009 * 0.009 + 0.009 * 0.009) / 2);
        // Each answer allows the offset +-5 ms around its own: only 0 fits both.
        QTest::newRow("quick out in one, quick back in the other")
            << "0.004/0.010/1000 -0.004/0.010/1000" << 1 << 2 << 0.0 << std::sqrt(2 * 0.004 * 0.004);
        QTest::newRow("spans that never meet: the least delayed")
            << "0.100/0.010/1000 0.001/0.002/1000" << 1 << 2 << 0.001 << 0.099;
        QTest::newRow("lost samples only lower the count") << "- 0.002/0.004 -" << 1 << 1 << 0.002 << 0.0;
        QTest::newRow("equal delays: the later one")
            << "0.001/0.004 0.003/0.004" << 1 << 2 << 0.002 << std::sqrt(2 * 0.001 * 0.001);
        QTest::newRow("answers without timestamps never chosen") << "x 0.002/0.5 x" << 1 << 1 << 0.002 << 0.0;
        QTest::newRow("only answers without timestamps: the last") << "x - x -" << 2 << 0 << 0.0 << 0.0;
        // 1,000 s of 15 ppm is worth 15 ms of delay: a fresh sample 8 ms slower wins.
        QTest::newRow("a stale quick sample loses")
            << "0.001/0.002/0 0.003/0.010/1000" << 1 << 2 << 0.003 << 0.002;
        QTest::newRow("a recent quick sample still wins")
            << "0.001/0.002/990 0.003/0.010/1000" << 0 << 2 << 0.001 << 0.002;
        QTest::newRow("nothing answered") << "- -" << -1 << 0 << 0.0 << 0.0;
        QTest::newRow("none at all") << "" << -1 << 0 << 0.0 << 0.0;
    }

    void shouldBelieveWhatEveryAnswerAllows()
    {
        QFETCH(QString, samples);
        QFETCH(int, chosen);
        QFETCH(int, answered);
        QFETCH(double, offset);
        QFETCH(double, jitter);
        const FilteredSamples filtered = FilterSamples(samplesFrom(samples), 1000.0);
        QCOMPARE(int(filtered.chosen), chosen);
        QCOMPARE(filtered.answered, answered);
        QVERIFY2(std::abs(filtered.offsetSeconds - offset) < 1e-12,
                 qPrintable(QString::number(filtered.offsetSeconds)));
        QVERIFY2(std::abs(filtered.jitterSeconds - jitter) < 1e-12,
                 qPrintable(QString::number(filtered.jitterSeconds)));
    }
};

QTEST_GUILESS_MAIN(TestClockFilter)
#include "test_clockfilter.moc"
