#include "servers/serverreasons.h"

#include "servers/serverformat.h"

#include <QLocale>
#include <cmath>

namespace ostrelle {

namespace {

// A duration in the largest unit that still shows it with some precision: "90 s", "42 min",
// "5 h", "3 days". Whole units, cut: an age is never made to look older than it is.
QString DurationText(std::chrono::seconds duration)
{
    const long long s = duration.count();
    if (s < 120)
        return QStringLiteral("%1 s").arg(s);
    if (s < 120 * 60)
        return QStringLiteral("%1 min").arg(s / 60);
    if (s < 48 * 3600)
        return QStringLiteral("%1 h").arg(s / 3600);
    return QStringLiteral("%1 days").arg(s / 86400);
}

// One decimal, or as many more as it takes for a distance just above the limit not to read as
// the limit itself.
QString DistanceText(double seconds)
{
    int decimals = 1;
    while (decimals < 6 && seconds > RootDistanceLimitSeconds &&
           std::round(seconds * std::pow(10.0, decimals)) / std::pow(10.0, decimals) <=
               RootDistanceLimitSeconds)
        ++decimals;
    return QLocale().toString(seconds, 'f', decimals);
}

} // namespace

QString KissCodeExplanation(const QString& code)
{
    // The codes of RFC 5905, section 7.4, and the NTS one of RFC 8915.
    static const struct
    {
        const char* code;
        const char* meaning;
    } known[] = {
        {"ACST", "the server belongs to a unicast association"},
        {"AUTH", "the server could not authenticate us"},
        {"AUTO", "the server's key exchange failed"},
        {"BCST", "the server only broadcasts"},
        {"CRYP", "the server's cryptographic check failed"},
        {"DENY", "the server refuses to answer us"},
        {"DROP", "the server dropped our association"},
        {"RSTR", "the server's access rules refuse us"},
        {"INIT", "the server has not synchronised yet"},
        {"MCST", "the server only multicasts"},
        {"NKEY", "the server has no key for us"},
        {"NTSN", "the server asks for a fresh secure-time cookie"},
        {"RATE", "the server asks to be polled less often"},
        {"RMOT", "the server's association was changed remotely"},
        {"STEP", "the server's clock was just stepped and is not settled"},
    };
    for (const auto& entry : known) {
        if (code == QLatin1String(entry.code))
            return QString::fromLatin1(entry.meaning);
    }
    return {};
}

QStringList UnhealthyReasonTexts(const UnhealthyReasons& r)
{
    QStringList texts;
    // First, because it says why there was no usable reply at all.
    if (!r.ntsFailure.isEmpty())
        texts << r.ntsFailure;
    if (r.noReply)
        texts << QStringLiteral("No reply within %1").arg(DurationText(r.replyWait));
    if (r.leapIndicator == 3)
        texts << QStringLiteral("Not synchronised (leap indicator 3)");
    else if (r.leapIndicator == 1 || r.leapIndicator == 2)
        texts << QStringLiteral("Leap second announced");
    if (r.kissOfDeath) {
        const QString meaning = KissCodeExplanation(r.kissCode);
        texts << (meaning.isEmpty() ? QStringLiteral("Kiss-o'-death: %1").arg(r.kissCode)
                                    : QStringLiteral("Kiss-o'-death: %1 (%2)").arg(r.kissCode, meaning));
    }
    if (r.stratumAboveLimit)
        texts << QStringLiteral("Stratum %1 is above the limit of %2").arg(r.stratum).arg(r.stratumLimit);
    if (r.referenceTimeMissing)
        texts << QStringLiteral("No reference time (the server was never synchronised)");
    else if (r.referenceTimeTooOld)
        texts << QStringLiteral("Reference time %1 old (limit %2)")
                     .arg(DurationText(r.referenceAge), DurationText(r.referenceAgeLimit));
    if (r.noTimestamps)
        texts << QStringLiteral("No timestamps in the reply");
    if (r.rootDistanceTooLarge)
        texts << QStringLiteral("Root distance %1 s is too large").arg(DistanceText(r.rootDistanceSeconds));
    if (r.disagrees)
        texts << QStringLiteral("Disagrees with %1 of %2 servers").arg(r.agreeing).arg(r.counted);
    return texts;
}

QString UnhealthyReasonText(const UnhealthyReasons& reasons)
{
    return UnhealthyReasonTexts(reasons).join(QStringLiteral("; "));
}

UnhealthyReasons ReasonsOf(const ServerReading& reading)
{
    const ServerProblems problems = reading.problems;
    UnhealthyReasons reasons;
    if (problems & (ServerProblem::LeapAnnounced | ServerProblem::Unsynchronised))
        reasons.leapIndicator = reading.leap;
    reasons.stratumAboveLimit = problems.testFlag(ServerProblem::StratumAboveLimit);
    reasons.stratum = reading.stratum;
    reasons.stratumLimit = reading.stratumLimit;
    if (problems.testFlag(ServerProblem::ReferenceTooOld)) {
        reasons.referenceTimeMissing = reading.referenceTime == 0.0;
        reasons.referenceTimeTooOld = !reasons.referenceTimeMissing;
    }
    // Whole seconds, cut: an age is never made to look older than it is.
    reasons.referenceAge = std::chrono::seconds(std::llround(std::floor(reading.referenceAgeSeconds)));
    reasons.referenceAgeLimit = std::chrono::seconds(reading.referenceAgeLimitSeconds);
    reasons.kissOfDeath = problems.testFlag(ServerProblem::KissOfDeath);
    reasons.kissCode = ReferenceIdText(reading.referenceId);
    reasons.noTimestamps = problems.testFlag(ServerProblem::NoTimestamps);
    return reasons;
}

} // namespace ostrelle
