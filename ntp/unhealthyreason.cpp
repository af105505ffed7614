#include "ntp/unhealthyreason.h"

#include "ntp/agreement.h"

namespace ostrelle {

void AddAgreementReasons(UnhealthyReasons& reasons, const CandidateAgreement& candidate,
                         const AgreementResult& agreement)
{
    if (candidate.verdict == AgreementVerdict::Falseticker) {
        reasons.disagrees = true;
        reasons.agreeing = agreement.agreeing;
        reasons.counted = agreement.counted;
    } else if (candidate.verdict == AgreementVerdict::TooDistant) {
        reasons.rootDistanceTooLarge = true;
        reasons.rootDistanceSeconds = candidate.rootDistance.count();
    }
}

QString ClockNotSetText(const AgreementResult& agreement)
{
    switch (agreement.why) {
    case NoClockSource::None:
        return {};
    case NoClockSource::NoCandidate:
        return QStringLiteral("Clock not set: no candidate (no usable reply this pass)");
    case NoClockSource::NoMajority:
        return QStringLiteral("Clock not set: no majority (at most %1 of %2 servers agree)")
            .arg(agreement.agreeing)
            .arg(agreement.counted);
    }
    return {};
}

QString ClockRefusedText(const QString& reason, bool cancelled)
{
    const QString text = cancelled ? QStringLiteral("Clock not set: not authorised")
                                   : QStringLiteral("Clock not set: the system refused");
    return reason.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, reason);
}

} // namespace ostrelle
