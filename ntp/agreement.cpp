#include "ntp/agreement.h"

#include <algorithm>
#include <cmath>

namespace ostrelle {

AgreementSeconds RootDistance(const AgreementCandidate& c, AgreementSeconds clockResolution)
{
    const auto positive = [](AgreementSeconds s) { return std::max(s.count(), 0.0); };
    const double delay = std::max(positive(c.rootDelay) + positive(c.roundTrip), MinDispersion.count());
    const double distance = delay / 2.0 + positive(c.rootDispersion) + positive(c.jitter) +
                            positive(clockResolution) + positive(c.precision) +
                            LocalClockDrift * positive(c.age);
    if (!std::isfinite(distance) || !std::isfinite(c.offset.count()))
        return AgreementSeconds(INFINITY);
    return AgreementSeconds(distance);
}

namespace {

struct Endpoint
{
    double value;
    int step; // +1 where an interval begins, -1 where one ends
};

} // namespace

AgreementResult EvaluateAgreement(std::span<const AgreementCandidate> candidates,
                                  AgreementSeconds clockResolution)
{
    AgreementResult result;
    result.candidates.resize(candidates.size());

    std::vector<Endpoint> endpoints;
    endpoints.reserve(2 * candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        CandidateAgreement& verdict = result.candidates[i];
        verdict.rootDistance = RootDistance(candidates[i], clockResolution);
        if (!(verdict.rootDistance <= MaxRootDistance)) {
            verdict.verdict = AgreementVerdict::TooDistant;
            continue;
        }
        const double offset = candidates[i].offset.count();
        endpoints.push_back({offset - verdict.rootDistance.count(), +1});
        endpoints.push_back({offset + verdict.rootDistance.count(), -1});
        ++result.counted;
    }
    if (result.counted == 0) {
        result.why = NoClockSource::NoCandidate;
        return result;
    }

    // Sweep the endpoints in order; beginnings before ends at the same value, so that intervals
    // that only touch share that point. The deepest stretch is the common part of the largest set.
    std::sort(endpoints.begin(), endpoints.end(), [](const Endpoint& a, const Endpoint& b) {
        return a.value < b.value || (a.value == b.value && a.step > b.step);
    });
    int depth = 0;
    int deepest = 0;
    int deepestStretches = 0;
    double low = 0.0;
    double high = 0.0;
    bool inDeepest = false;
    for (const Endpoint& e : endpoints) {
        depth += e.step;
        if (e.step > 0 && depth > deepest) {
            deepest = depth;
            deepestStretches = 1;
            low = e.value;
            inDeepest = true;
        } else if (e.step > 0 && depth == deepest) {
            ++deepestStretches;
        } else if (e.step < 0 && inDeepest) {
            high = e.value;
            inDeepest = false;
        }
    }
    result.agreeing = deepest;

    if (2 * deepest <= result.counted || deepestStretches > 1) {
        result.why = NoClockSource::NoMajority;
        return result;
    }

    for (std::size_t i = 0; i < candidates.size(); ++i) {
        CandidateAgreement& verdict = result.candidates[i];
        if (verdict.verdict == AgreementVerdict::TooDistant)
            continue;
        const double offset = candidates[i].offset.count();
        const double distance = verdict.rootDistance.count();
        const bool holds = offset - distance <= low && high <= offset + distance;
        verdict.verdict = holds ? AgreementVerdict::Truechimer : AgreementVerdict::Falseticker;
        if (!holds)
            continue;
        const auto better = [&](std::size_t than) {
            const AgreementCandidate& a = candidates[i];
            const AgreementCandidate& b = candidates[than];
            return a.stratum < b.stratum ||
                   (a.stratum == b.stratum && std::abs(a.offset.count()) < std::abs(b.offset.count()));
        };
        if (!result.chosen || better(*result.chosen))
            result.chosen = i;
    }
    return result;
}

} // namespace ostrelle
