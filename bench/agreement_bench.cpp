// Times the end-of-pass agreement over 10,000 candidates, alone and as the poll cycle runs it
// (its candidates converted, the falsetickers' rows marked in the table). Prints, never asserts.

#include "ntp/agreement.h"
#include "ntp/passjudgement.h"
#include "servers/serverlistmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace ostrelle;

namespace {

constexpr int CandidateCount = 10000;
constexpr int Runs = 101;

// A seeded mix: most servers near true time, a fifth anywhere within an hour, a tenth too far away.
std::vector<AgreementCandidate> makeCandidates()
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> near(-0.02, 0.02);
    std::uniform_real_distribution<double> anywhere(-3600.0, 3600.0);
    std::uniform_real_distribution<double> spread(0.001, 0.05);
    std::uniform_int_distribution<int> stratum(1, 15);
    std::uniform_int_distribution<int> kind(0, 9);
    std::vector<AgreementCandidate> candidates(CandidateCount);
    for (int i = 0; i < CandidateCount; ++i) {
        AgreementCandidate& c = candidates[std::size_t(i)];
        const int k = kind(random);
        c.row = i;
        c.stratum = stratum(random);
        c.offset = AgreementSeconds(k < 7 ? near(random) : anywhere(random));
        c.roundTrip = AgreementSeconds(spread(random));
        c.rootDelay = AgreementSeconds(spread(random));
        c.rootDispersion = AgreementSeconds(k == 9 ? 2.0 : spread(random));
        c.precision = AgreementSeconds(0x1p-20);
        c.age = AgreementSeconds(i * 0.001);
    }
    return candidates;
}

double medianMs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const std::vector<AgreementCandidate> candidates = makeCandidates();

    QList<PollStep> steps;
    ServerListModel table;
    QStringList names;
    for (const AgreementCandidate& c : candidates) {
        PollStep step;
        step.answered = true;
        ServerReading& r = step.reading;
        r.usableAsSource = true;
        r.stratum = c.stratum;
        r.offsetSeconds = c.offset.count();
        r.roundTripSeconds = c.roundTrip.count();
        r.rootDelaySeconds = c.rootDelay.count();
        r.rootDispersionSeconds = c.rootDispersion.count();
        r.precisionSeconds = c.precision.count();
        r.receivedAt = 1000.0 - c.age.count();
        steps.append(step);
        names << QStringLiteral("s%1").arg(c.row);
    }
    table.addServers(names);

    std::vector<double> agreementMs;
    std::vector<double> wiredMs;
    std::vector<double> lowestStratumMs;
    std::size_t checksum = 0;
    QElapsedTimer timer;
    for (int run = 0; run < Runs; ++run) {
        timer.start();
        const AgreementResult result = EvaluateAgreement(candidates, AgreementSeconds(1e-9));
        agreementMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        checksum += result.chosen.value_or(0) + std::size_t(result.agreeing);

        // Peer: the choice without agreement, one scan for the lowest stratum and smallest offset.
        timer.start();
        std::size_t best = 0;
        for (std::size_t i = 1; i < candidates.size(); ++i) {
            const AgreementCandidate& a = candidates[i];
            const AgreementCandidate& b = candidates[best];
            if (a.stratum < b.stratum ||
                (a.stratum == b.stratum && std::abs(a.offset.count()) < std::abs(b.offset.count())))
                best = i;
        }
        lowestStratumMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        checksum += best;

        timer.start();
        const PassJudgement wired = JudgePass(steps, 1000.0, AgreementSeconds(1e-9));
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (const ServerProblems problems = wired.problemsOf(i))
                table.markAgreementProblem(int(i), problems, wired.agreement.agreeing,
                                           wired.agreement.counted,
                                           wired.agreementOf(i)->rootDistance.count());
        }
        wiredMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        checksum += std::size_t(wired.source.value_or(0));
    }

    const AgreementResult result = EvaluateAgreement(candidates, AgreementSeconds(1e-9));
    out << "candidates: " << CandidateCount << ", counted " << result.counted << ", agreeing "
        << result.agreeing << ", chosen row " << (result.chosen ? candidates[*result.chosen].row : -1)
        << " (checksum " << checksum << ")\n";
    out << "agreement, end of pass (median of " << Runs
        << "): " << QString::number(medianMs(agreementMs), 'f', 3) << " ms\n";
    out << "as the poll cycle runs it, rows marked (median of " << Runs
        << "): " << QString::number(medianMs(wiredMs), 'f', 3) << " ms\n";
    out << "peer, lowest stratum without agreement (median of " << Runs
        << "): " << QString::number(medianMs(lowestStratumMs), 'f', 3) << " ms\n";
    return 0;
}
