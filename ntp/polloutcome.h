#pragma once

#include <QString>

namespace ostrelle {

struct PollStep;

// How one poll of one server ended, for the history and the report alike. The numbers are
// stored in the history's database: never renumber.
enum class PollOutcome : int {
    Answered = 0,
    TimedOut = 1,    // no answer in time, or a name that is never looked up
    Refused = 2,     // the poll failed, or its answer could not be taken; the reason says why
    KissOfDeath = 3, // the server asked us to stop or slow down; the reason is its code
};

struct PollResult
{
    PollOutcome outcome = PollOutcome::TimedOut;
    QString reason; // empty for an answer and for plain silence
};

// What a finished step comes to, with its reason in the words the operator reads everywhere:
// the kiss code, "Socket Error: " and the system's words, NTS's refusal, a missing timestamp.
PollResult PollResultOf(const PollStep& step);

// "answered", "timed out", "refused" or "kiss-o'-death".
QString PollOutcomeText(PollOutcome outcome);

// The text of a socket that could not be made: "Socket Error: " and the system's words.
QString SocketErrorText(const QString& systemWords);

} // namespace ostrelle
