#pragma once

#include <QString>
#include <QStringList>
#include <chrono>

namespace ostrelle {

struct AgreementResult;
struct CandidateAgreement;

// Why a server's row is red, as flags with the numbers the operator is told. Filled from the
// row's record; a default value is a healthy row.
struct UnhealthyReasons
{
    bool noReply = false;
    std::chrono::seconds replyWait{10}; // how long the reply was waited for

    int leapIndicator = 0; // 3: not synchronised; 1 or 2: a leap second announced

    bool stratumAboveLimit = false;
    int stratum = 0;
    int stratumLimit = 0;

    bool referenceTimeMissing = false; // zero reference time: never synchronised
    bool referenceTimeTooOld = false;
    std::chrono::seconds referenceAge{};
    std::chrono::seconds referenceAgeLimit{};

    bool kissOfDeath = false;
    QString kissCode; // the reference identifier as shown, "RATE", "DENY"...

    bool noTimestamps = false; // zero receive or transmit timestamp

    bool disagrees = false;
    int agreeing = 0; // the servers that agree with each other
    int counted = 0;  // all servers counted in the agreement

    bool rootDistanceTooLarge = false;
    double rootDistanceSeconds = 0.0;

    QString ntsFailure; // why an NTS key exchange or reply was refused ("NTS: ..."), empty if none
};

// One plain sentence with its numbers per reason, in a fixed order; empty for a healthy row.
QStringList UnhealthyReasonTexts(const UnhealthyReasons& reasons);

// The reasons joined into the one text of a tooltip and an accessible description.
QString UnhealthyReasonText(const UnhealthyReasons& reasons);

// Marks a falseticker or a candidate beyond the root distance limit with its numbers.
void AddAgreementReasons(UnhealthyReasons& reasons, const CandidateAgreement& candidate,
                         const AgreementResult& agreement);

// Why the pass set no clock, for the "Synchronised to:" tooltip: no candidate or no majority;
// empty when a source was chosen.
QString ClockNotSetText(const AgreementResult& agreement);

// Why the clock was not set although a source was chosen: the system's reason, or the operator's
// refusal to authorise it.
QString ClockRefusedText(const QString& reason, bool cancelled);

// What a kiss-o'-death code asks of us in plain words; empty for a code with no known meaning.
QString KissCodeExplanation(const QString& code);

} // namespace ostrelle
