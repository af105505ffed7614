#include "history/pollhistory.h"
#include "ntp/pollcycle.h"
#include "report/reportpoller.h"

#include <QTest>

using namespace ostrelle;
using namespace std::chrono;

namespace {

const UtcTime PolledAt = UtcTime(seconds(1'800'000'000) + nanoseconds(123'456'789));

PollStep answer(int stratum, std::array<std::uint8_t, 4> referenceId, ServerProblems problems = {},
                bool hasTimestamps = true)
{
    PollStep step;
    step.server = "ntp.example";
    step.polledAt = PolledAt;
    step.answered = true;
    step.reading.leap = problems.testFlag(ServerProblem::LeapAnnounced) ? 1 : 0;
    step.reading.stratum = stratum;
    step.reading.referenceId = referenceId;
    step.reading.offsetSeconds = -0.000123456789012;
    step.reading.roundTripSeconds = 0.0421234567;
    step.reading.rootDelaySeconds = 0.0123443603515625;      // 809/65536 s, as the reply carries it
    step.reading.rootDispersionSeconds = 0.0003509521484375; // 23/65536 s
    step.reading.hasTimestamps = hasTimestamps;
    step.reading.problems = problems;
    return step;
}

PollStep noAnswer(ServerProblems why)
{
    PollStep step;
    step.server = "ntp.example";
    step.polledAt = PolledAt;
    step.reading.problems = why;
    if (why.testFlag(ServerProblem::SocketError))
        step.socketError = "Too many open files";
    if (why.testFlag(ServerProblem::NtsRefused)) {
        step.server = "nts://nts.example";
        step.nts = NtsStatus{false, "NTS: authentication failed", {}, {}, {}};
    }
    return step;
}

} // namespace

class TestPollHistory : public QObject
{
    Q_OBJECT

private slots:
    void shouldKeepEachStepAsOneSample_data()
    {
        QTest::addColumn<PollStep>("step");
        QTest::addColumn<PollOutcome>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("keepsFigures");

        QTest::newRow("answer") << answer(2, {192, 0, 2, 1}) << PollOutcome::Answered << QString() << true;
        QTest::newRow("answer announcing a leap")
            << answer(1, {'G', 'P', 'S', 0}, ServerProblem::LeapAnnounced) << PollOutcome::Answered
            << QString() << true;
        QTest::newRow("kiss-o'-death") << answer(0, {'R', 'A', 'T', 'E'}, ServerProblem::KissOfDeath)
                                       << PollOutcome::KissOfDeath << "RATE" << false;
        QTest::newRow("no timestamps") << answer(3, {10, 0, 0, 1}, ServerProblem::NoTimestamps, false)
                                       << PollOutcome::Refused << "No timestamps in the reply" << false;
        QTest::newRow("silence") << noAnswer({}) << PollOutcome::TimedOut << QString() << false;
        QTest::newRow("socket error") << noAnswer(ServerProblem::SocketError) << PollOutcome::Refused
                                      << "Socket Error: Too many open files" << false;
        QTest::newRow("NTS refusal") << noAnswer(ServerProblem::NtsRefused) << PollOutcome::Refused
                                     << "NTS: authentication failed" << false;
        QTest::newRow("unpollable name") << noAnswer(ServerProblem::UnpollableName) << PollOutcome::TimedOut
                                         << "Not a name that can be looked up" << false;
    }

    void shouldKeepEachStepAsOneSample()
    {
        QFETCH(PollStep, step);
        QFETCH(PollOutcome, outcome);
        QFETCH(QString, detail);
        QFETCH(bool, keepsFigures);

        const HistorySample sample = HistorySampleOf(step);
        QCOMPARE(sample.server, step.server);
        // To the nanosecond, not rounded to the table's milliseconds.
        QCOMPARE(sample.time.time_since_epoch(), PolledAt.time_since_epoch());
        QCOMPARE(sample.outcome, outcome);
        QCOMPARE(sample.detail, detail);
        QCOMPARE(sample.stratum, step.reading.stratum);
        QCOMPARE(sample.leap, step.reading.leap);
        QVERIFY(sample.referenceId == step.reading.referenceId);
        QCOMPARE(sample.offset, keepsFigures ? step.reading.offsetSeconds : 0.0);
        QCOMPARE(sample.roundTrip, keepsFigures ? step.reading.roundTripSeconds : 0.0);
        QCOMPARE(sample.rootDelay, keepsFigures ? step.reading.rootDelaySeconds : 0.0);
        QCOMPARE(sample.rootDispersion, keepsFigures ? step.reading.rootDispersionSeconds : 0.0);

        // The report says of the same step what the history keeps.
        const ReportRow row = JudgeServerPolls({step}, PolledAt, seconds(10)).rows.value(0);
        QCOMPARE(row.outcome, outcome);
        if (outcome == PollOutcome::Refused || outcome == PollOutcome::KissOfDeath)
            QCOMPARE(row.refusal, detail);
        else if (!detail.isEmpty())
            QCOMPARE(row.reasons.value(0), detail);
    }
};

QTEST_MAIN(TestPollHistory)
#include "test_pollhistory.moc"
