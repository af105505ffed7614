#pragma once

#include "servers/serverreasons.h"

#include <QString>
#include <QStringList>
#include <chrono>

namespace ostrelle {

struct AgreementResult;
struct CandidateAgreement;

// Marks a falseticker or a candidate beyond the root distance limit with its numbers.
void AddAgreementReasons(UnhealthyReasons& reasons, const CandidateAgreement& candidate,
                         const AgreementResult& agreement);

// Why the pass set no clock, for the "Synchronised to:" tooltip: no candidate or no majority;
// empty when a source was chosen.
QString ClockNotSetText(const AgreementResult& agreement);

// Why the clock was not set although a source was chosen: the system's reason, or the operator's
// refusal to authorise it.
QString ClockRefusedText(const QString& reason, bool cancelled);

} // namespace ostrelle
