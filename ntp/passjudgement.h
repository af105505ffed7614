#pragma once

#include "ntp/agreement.h"
#include "ntp/serverexchange.h"
#include "servers/serverrecord.h"

#include <QList>
#include <optional>

namespace ostrelle {

// What one pass comes to, for the window and the report alike: which servers agree, which do
// not or are too far from a reference to count, and the one whose offset may set the clock.
struct PassJudgement
{
    AgreementResult agreement;
    // For each step judged, its index among agreement.candidates; -1 for a step that could not set
    // the clock (silent, or an answer unfit to be a source).
    QList<qsizetype> candidateIndex;
    // The step whose offset may set the clock.
    std::optional<qsizetype> source;

    // What the agreement says of a step; nullptr when the step took no part.
    const CandidateAgreement* agreementOf(qsizetype step) const;
    // What the agreement adds to a step's own problems: Disagrees, TooDistant, or nothing.
    ServerProblems problemsOf(qsizetype step) const;
};

// Judges a pass. steps holds each server's step of the pass; an answered one carries what its
// clock filter believes (FilteredStep()). passEnd is when the pass ended, in NtpSeconds of our
// clock, read with a clock of clockResolution.
PassJudgement JudgePass(const QList<PollStep>& steps, double passEnd, AgreementSeconds clockResolution);

} // namespace ostrelle
