#include "ntp/agreement.h"
#include "ntp/passjudgement.h"

#include <QStringList>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <random>

using namespace ostrelle;

namespace {

// "stratum offset halfwidth; ..." with the half-width carried as root dispersion beside the
// least delay every root distance assumes.
std::vector<AgreementCandidate> candidatesFrom(const QString& text)
{
    std::vector<AgreementCandidate> candidates;
    const QStringList entries = text.split(u';', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(u' ', Qt::SkipEmptyParts);
        AgreementCandidate c;
        c.row = static_cast<int>(candidates.size());
        c.stratum = parts.at(0).toInt();
        c.offset = AgreementSeconds(parts.at(1).toDouble());
        c.rootDispersion = AgreementSeconds(parts.at(2).toDouble()) - MinDispersion / 2.0;
        candidates.push_back(c);
    }
    return candidates;
}

// One letter per verdict, in the order of AgreementVerdict: Truechimer, Falseticker, Undecided, TooDistant.
QString verdictLetters(const AgreementResult& result)
{
    QString letters;
    for (const CandidateAgreement& c : result.candidates)
        letters += QLatin1Char("TFUD"[static_cast<int>(c.verdict)]);
    return letters;
}

// A pass's steps, "stratum offset [round trip]; ...", with "-" for a silent server and "x" for an
// answer unfit to set the clock. Round trips of 1.2 s, unless given, make intervals of about ±0.6 s.
QList<PollStep> stepsFrom(const QString& text)
{
    QList<PollStep> steps;
    for (const QString& entry : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(u' ', Qt::SkipEmptyParts);
        PollStep step;
        step.answered = parts.at(0) != u"-";
        step.reading.usableAsSource = parts.size() >= 2;
        if (step.reading.usableAsSource) {
            step.reading.stratum = parts.at(0).toInt();
            step.reading.offsetSeconds = parts.at(1).toDouble();
            step.reading.roundTripSeconds = parts.size() > 2 ? parts.at(2).toDouble() : 1.2;
            step.reading.receivedAt = 100.0;
        }
        steps.append(step);
    }
    return steps;
}

} // namespace

class AgreementTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSumTheErrorBounds_data()
    {
        QTest::addColumn<double>("rootDelay");
        QTest::addColumn<double>("rootDispersion");
        QTest::addColumn<double>("roundTrip");
        QTest::addColumn<double>("precision");
        QTest::addColumn<double>("age");
        QTest::addColumn<double>("jitter");
        QTest::addColumn<double>("distance");
        // Resolution 1 ms in every row.
        QTest::newRow("every part") << 0.25 << 0.125 << 0.0625 << 0x1p-20 << 100.0 << 0.002
                                    << 0.125 + 0.125 + 0.03125 + 0.001 + 0x1p-20 + 0.0015 + 0.002;
        QTest::newRow("reply 9.9 s after its request") << 0.0 << 0.0 << 9.9 << 0.0 << 0.0 << 0.0 << 4.951;
        // A stratum-1 appliance on the LAN: no root delay or dispersion, a 0.2 ms round trip.
        QTest::newRow("LAN path counts as 10 ms")
            << 0.0 << 0.0 << 0.0002 << 0x1p-20 << 0.0 << 0.0 << 0.005 + 0.001 + 0x1p-20;
        QTest::newRow("delays just above the floor") << 0.006 << 0.0 << 0.006 << 0.0 << 0.0 << 0.0 << 0.007;
        QTest::newRow("negative parts count as none") << -0.5 << -1.0 << -0.25 << 0.0 << 0.0 << -0.1 << 0.006;
        QTest::newRow("not a number") << std::nan("") << 0.0 << 0.0 << 0.0 << 0.0 << 0.0 << double(INFINITY);
    }
    void shouldSumTheErrorBounds()
    {
        QFETCH(double, rootDelay);
        QFETCH(double, rootDispersion);
        QFETCH(double, roundTrip);
        QFETCH(double, precision);
        QFETCH(double, age);
        QFETCH(double, jitter);
        QFETCH(double, distance);
        AgreementCandidate c;
        c.rootDelay = AgreementSeconds(rootDelay);
        c.rootDispersion = AgreementSeconds(rootDispersion);
        c.roundTrip = AgreementSeconds(roundTrip);
        c.precision = AgreementSeconds(precision);
        c.age = AgreementSeconds(age);
        c.jitter = AgreementSeconds(jitter);
        const double got = RootDistance(c, AgreementSeconds(0.001)).count();
        if (std::isinf(distance))
            QVERIFY(std::isinf(got));
        else
            QVERIFY2(std::abs(got - distance) < 1e-12, qPrintable(QString::number(got, 'g', 17)));
    }

    void shouldChooseOnlyAmongAMajorityThatAgrees_data()
    {
        QTest::addColumn<QString>("candidates");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("agreeing");
        QTest::addColumn<int>("counted");
        QTest::addColumn<NoClockSource>("why");

        QTest::newRow("three agree, stratum 1 an hour off")
            << "1 3600 0.05; 2 0.010 0.05; 2 -0.005 0.05; 2 0.002 0.05"
            << "FTTT" << 3 << 3 << 4 << NoClockSource::None;
        QTest::newRow("two against two") << "1 0.00 0.05; 2 0.01 0.05; 1 5.00 0.05; 2 5.01 0.05"
                                         << "UUUU" << -1 << 2 << 4 << NoClockSource::NoMajority;
        QTest::newRow("nested intervals") << "3 0.0 1.0; 1 0.2 0.5; 2 0.3 0.1"
                                          << "TTT" << 1 << 3 << 3 << NoClockSource::None;
        QTest::newRow("intervals that only touch") << "2 0.0 0.5; 2 1.0 0.5; 1 3.0 0.1"
                                                   << "TTF" << 0 << 2 << 3 << NoClockSource::None;
        QTest::newRow("a hair apart") << "2 0.0 0.5; 2 1.000001 0.5; 1 3.0 0.1"
                                      << "UUU" << -1 << 1 << 3 << NoClockSource::NoMajority;
        QTest::newRow("one huge interval covering everything")
            << "3 0.5 1.4; 2 0.02 0.03; 2 -0.01 0.02; 2 0.015 0.02"
            << "TTTT" << 2 << 4 << 4 << NoClockSource::None;
        QTest::newRow("huge interval at the lowest stratum wins")
            << "1 0.5 1.4; 2 0.02 0.03; 2 -0.01 0.02; 2 0.015 0.02"
            << "TTTT" << 0 << 4 << 4 << NoClockSource::None;
        QTest::newRow("huge interval spanning two that disagree")
            << "1 0.0 1.4; 2 -1.0 0.01; 2 1.0 0.01"
            << "UUU" << -1 << 2 << 3 << NoClockSource::NoMajority;
        QTest::newRow("one candidate") << "4 -0.3 0.1"
                                       << "T" << 0 << 1 << 1 << NoClockSource::None;
        QTest::newRow("ties go to the earliest") << "2 -0.01 0.05; 2 0.01 0.05"
                                                 << "TT" << 0 << 2 << 2 << NoClockSource::None;
        QTest::newRow("root distance at the limit counts") << "1 0.0 1.5; 2 0.1 0.05"
                                                           << "TT" << 0 << 2 << 2 << NoClockSource::None;
        QTest::newRow("root distance above the limit is no candidate")
            << "1 4.95 1.50001; 2 0.1 0.05"
            << "DT" << 1 << 1 << 1 << NoClockSource::None;
        QTest::newRow("none within the limit") << "1 0.0 2.1; 2 0.0 1.6"
                                               << "DD" << -1 << 0 << 0 << NoClockSource::NoCandidate;
        QTest::newRow("no candidates") << ""
                                       << "" << -1 << 0 << 0 << NoClockSource::NoCandidate;
    }
    void shouldChooseOnlyAmongAMajorityThatAgrees()
    {
        QFETCH(QString, candidates);
        QFETCH(QString, verdicts);
        QFETCH(int, chosen);
        QFETCH(int, agreeing);
        QFETCH(int, counted);
        QFETCH(NoClockSource, why);
        const std::vector<AgreementCandidate> input = candidatesFrom(candidates);

        const AgreementResult result = EvaluateAgreement(input, AgreementSeconds(0.0));

        QCOMPARE(verdictLetters(result), verdicts);
        QCOMPARE(result.chosen ? int(*result.chosen) : -1, chosen);
        QCOMPARE(result.agreeing, agreeing);
        QCOMPARE(result.counted, counted);
        QCOMPARE(result.why, why);
        for (std::size_t i = 0; i < input.size(); ++i)
            QVERIFY(std::abs(result.candidates[i].rootDistance.count() -
                             (input[i].rootDispersion + MinDispersion / 2.0).count()) < 1e-15);
    }

    // Healthy servers a few milliseconds apart agree even when their replies carry no root delay
    // or dispersion, as on a LAN; one tens of milliseconds off still stands out.
    void shouldLetLanServersAFewMillisecondsApartAgree_data()
    {
        QTest::addColumn<QList<double>>("offsets");
        QTest::addColumn<QString>("verdicts");
        QTest::newRow("three 1.5 ms apart") << QList<double>{0.0, 0.0015, 0.003} << "TTT";
        QTest::newRow("three 4 ms apart") << QList<double>{-0.004, 0.0, 0.004} << "TTT";
        QTest::newRow("one 30 ms off") << QList<double>{0.0, 0.0015, 0.003, 0.030} << "TTTF";
        QTest::newRow("one 15 ms off") << QList<double>{0.0, 0.0015, 0.003, -0.015} << "TTTF";
    }
    void shouldLetLanServersAFewMillisecondsApartAgree()
    {
        QFETCH(QList<double>, offsets);
        QFETCH(QString, verdicts);
        std::vector<AgreementCandidate> input;
        for (double offset : offsets) {
            AgreementCandidate c;
            c.row = int(input.size());
            c.stratum = 2;
            c.offset = AgreementSeconds(offset);
            c.roundTrip = AgreementSeconds(0.00015);
            c.precision = AgreementSeconds(0x1p-24);
            c.age = AgreementSeconds(0.5);
            input.push_back(c);
        }
        const AgreementResult result = EvaluateAgreement(input, AgreementSeconds(1e-9));
        QCOMPARE(verdictLetters(result), verdicts);
        QVERIFY(result.chosen);
        QCOMPARE(result.why, NoClockSource::None);
    }

    // Agreement does not depend on the order in which the servers answered (seeded shuffles).
    void shouldGiveTheSameVerdictsInAnyOrder()
    {
        std::vector<AgreementCandidate> input =
            candidatesFrom("2 0.01 0.05; 1 3600 0.05; 3 -0.02 0.05; 2 0.03 0.04; 1 7.0 0.3; 4 0.0 1.2");
        const AgreementResult reference = EvaluateAgreement(input, AgreementSeconds(0.0));
        QCOMPARE(verdictLetters(reference), QStringLiteral("TFTTFT"));
        std::mt19937 random(12);
        for (int round = 0; round < 20; ++round) {
            std::shuffle(input.begin(), input.end(), random);
            const AgreementResult result = EvaluateAgreement(input, AgreementSeconds(0.0));
            for (std::size_t i = 0; i < input.size(); ++i)
                QCOMPARE(result.candidates[i].verdict,
                         reference.candidates[std::size_t(input[i].row)].verdict);
            QVERIFY(result.chosen);
            QCOMPARE(input[*result.chosen].row, 0);
        }
    }

    // The pass as the window and the report judge it: silent and unfit servers take no part, and
    // what the agreement found lands on the step it was found of.
    void shouldJudgeAPassStepByStep_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("source");       // the step that sets the clock; -1 for none
        QTest::addColumn<QString>("problems"); // per step: '.' none, 'D' disagrees, 'R' too distant
        QTest::newRow("nobody answers") << "-; -" << -1 << "..";
        QTest::newRow("lowest stratum first") << "2 0.001; 1 0.5" << 1 << "..";
        QTest::newRow("then the smaller offset") << "1 -0.02; 1 0.01" << 1 << "..";
        QTest::newRow("a tie keeps the earlier") << "1 0.01; 1 -0.01" << 0 << "..";
        QTest::newRow("silent and unfit servers between")
            << "-; 1 3600; x; 2 0.1; -; 2 0.0; 2 -0.1" << 5 << ".D.....";
        QTest::newRow("two that disagree") << "1 0.0; x; 2 5.0" << -1 << "...";
        QTest::newRow("too distant after a silent one") << "-; 2 0.0; 2 0.0 5; 2 0.01" << 1 << "..R.";
    }

    void shouldJudgeAPassStepByStep()
    {
        QFETCH(QString, steps);
        QFETCH(int, source);
        QFETCH(QString, problems);
        const QList<PollStep> pass = stepsFrom(steps);
        const PassJudgement judgement = JudgePass(pass, 101.0, AgreementSeconds(0.001));
        QCOMPARE(judgement.source.value_or(-1), source);
        QString found;
        for (qsizetype i = 0; i < pass.size(); ++i) {
            const ServerProblems p = judgement.problemsOf(i);
            found += p.testFlag(ServerProblem::Disagrees)    ? u'D'
                     : p.testFlag(ServerProblem::TooDistant) ? u'R'
                                                             : u'.';
        }
        QCOMPARE(found, problems);
    }
};

QTEST_GUILESS_MAIN(AgreementTest)
#include "test_agreement.moc"
