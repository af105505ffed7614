#include "ntp/polloutcome.h"

#include "ntp/serverexchange.h"
#include "servers/serverformat.h"
#include "servers/serverreasons.h"

namespace ostrelle {

PollResult PollResultOf(const PollStep& step)
{
    const ServerReading& reading = step.reading;
    const ServerProblems why = reading.problems;
    if (!step.answered) {
        if (why.testFlag(ServerProblem::UnpollableName))
            return {PollOutcome::TimedOut, QStringLiteral("Not a name that can be looked up")};
        if (why.testFlag(ServerProblem::SocketError))
            return {PollOutcome::Refused, SocketErrorText(step.socketError)};
        if (why.testFlag(ServerProblem::NtsRefused) && step.nts)
            return {PollOutcome::Refused, step.nts->reason};
        return {};
    }
    if (why.testFlag(ServerProblem::KissOfDeath))
        return {PollOutcome::KissOfDeath, ReferenceIdText(reading.referenceId)};
    // Without the server's timestamps the offset and round trip are decades, not figures.
    if (!reading.hasTimestamps) {
        UnhealthyReasons reasons;
        reasons.noTimestamps = true;
        return {PollOutcome::Refused, UnhealthyReasonText(reasons)};
    }
    return {PollOutcome::Answered, {}};
}

QString PollOutcomeText(PollOutcome outcome)
{
    switch (outcome) {
    case PollOutcome::Answered:
        return QStringLiteral("answered");
    case PollOutcome::TimedOut:
        return QStringLiteral("timed out");
    case PollOutcome::Refused:
        return QStringLiteral("refused");
    case PollOutcome::KissOfDeath:
        return QStringLiteral("kiss-o'-death");
    }
    return {};
}

QString SocketErrorText(const QString& systemWords)
{
    return QStringLiteral("Socket Error: ") + systemWords;
}

} // namespace ostrelle
