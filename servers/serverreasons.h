#pragma once

#include "servers/serverrecord.h"

#include <QString>
#include <QStringList>
#include <chrono>

namespace ostrelle {

// A candidate whose root distance is above this many seconds says nothing useful about the time.
inline constexpr double RootDistanceLimitSeconds = 1.5;

// Why a server's row is red, as flags with the numbers the operator is told; a default value is
// a healthy row. The window's rows and the report's lines say it in the same words.
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

// The reasons an answer's own reading gives (leap, stratum, reference time, kiss-o'-death,
// timestamps), judged by the limits the reading carries; the agreement and NTS add theirs.
UnhealthyReasons ReasonsOf(const ServerReading& reading);

// What a kiss-o'-death code asks of us in plain words; empty for a code with no known meaning.
QString KissCodeExplanation(const QString& code);

} // namespace ostrelle
