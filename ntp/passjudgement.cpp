#include "ntp/passjudgement.h"

#include <vector>

namespace ostrelle {

const CandidateAgreement* PassJudgement::agreementOf(qsizetype step) const
{
    const qsizetype c = candidateIndex.value(step, -1);
    return c < 0 ? nullptr : &agreement.candidates[static_cast<std::size_t>(c)];
}

ServerProblems PassJudgement::problemsOf(qsizetype step) const
{
    const CandidateAgreement* judged = agreementOf(step);
    if (!judged)
        return {};
    switch (judged->verdict) {
    case AgreementVerdict::Falseticker:
        return ServerProblem::Disagrees;
    case AgreementVerdict::TooDistant:
        return ServerProblem::TooDistant;
    case AgreementVerdict::Truechimer:
    case AgreementVerdict::Undecided:
        break;
    }
    return {};
}

PassJudgement JudgePass(const QList<PollStep>& steps, double passEnd, AgreementSeconds clockResolution)
{
    PassJudgement judgement;
    std::vector<AgreementCandidate> candidates;
    std::vector<qsizetype> stepOf;
    judgement.candidateIndex.fill(-1, steps.size());
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const PollStep& step = steps.at(i);
        const ServerReading& r = step.reading;
        if (!step.answered || !r.usableAsSource)
            continue;
        judgement.candidateIndex[i] = qsizetype(candidates.size());
        stepOf.push_back(i);
        candidates.push_back({int(i), r.stratum, AgreementSeconds(r.offsetSeconds),
                              AgreementSeconds(r.roundTripSeconds), AgreementSeconds(r.rootDelaySeconds),
                              AgreementSeconds(r.rootDispersionSeconds), AgreementSeconds(r.precisionSeconds),
                              AgreementSeconds(passEnd - r.receivedAt),
                              AgreementSeconds(step.jitterSeconds)});
    }
    judgement.agreement = EvaluateAgreement(candidates, clockResolution);
    if (judgement.agreement.chosen)
        judgement.source = stepOf[*judgement.agreement.chosen];
    return judgement;
}

} // namespace ostrelle
