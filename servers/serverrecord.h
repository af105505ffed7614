#pragma once

#include <QDateTime>
#include <QFlags>
#include <QString>
#include <array>
#include <cstdint>

namespace ostrelle {

// Why a server's row is shown as unhealthy; any flag makes it red.
enum class ServerProblem : unsigned {
    TimedOut = 1u << 0,          // no answer within the step (or the name cannot be polled at all)
    LeapAnnounced = 1u << 1,     // leap indicator 1 or 2
    Unsynchronised = 1u << 2,    // leap indicator 3, or stratum above 15
    StratumAboveLimit = 1u << 3, // above the operator's stratum limit
    ReferenceTooOld = 1u << 4,   // reference time older than the operator's limit, or none at all
    KissOfDeath = 1u << 5,       // stratum 0: the reference identifier holds the code
    NoTimestamps = 1u << 6,      // a zero receive or transmit time: no delay or offset
    SocketError = 1u << 7,       // the request's socket could not be made
    UnpollableName = 1u << 8,    // blank, or longer than any host name: never looked up
    Disagrees = 1u << 9,         // a falseticker: misses the time most servers of the pass agree on
    TooDistant = 1u << 10,       // root distance above the limit: says nothing useful about the time
    NtsRefused = 1u << 11,       // NTS: the key exchange failed or a reply did not authenticate
};
Q_DECLARE_FLAGS(ServerProblems, ServerProblem)
Q_DECLARE_OPERATORS_FOR_FLAGS(ServerProblems)

// What one accepted reply says, as numbers and flags. Times are NtpSeconds placed in the era
// nearest the arrival; 0 where the server left the field zero.
struct ServerReading
{
    int leap = 0;
    int version = 0;
    int stratum = 0;
    double precisionSeconds = 0.0;
    double rootDelaySeconds = 0.0;
    double rootDispersionSeconds = 0.0;
    std::array<std::uint8_t, 4> referenceId{}; // the kiss code when stratum is 0
    double referenceTime = 0.0;
    double referenceAgeSeconds = 0.0; // server's transmit time minus its reference time
    double roundTripSeconds = 0.0;
    double offsetSeconds = 0.0; // positive when the local clock is behind the server
    bool hasTimestamps = false;
    double receivedAt = 0.0; // NtpSeconds of our clock when the reply arrived
    // The operator's limits the reply was judged against, for the text that explains a red row.
    int stratumLimit = 0;
    int referenceAgeLimitSeconds = 0;
    ServerProblems problems;
    // Fit to set the clock from: synchronised, stratum 1-15, both server timestamps present.
    bool usableAsSource = false;
};

// What NTS proved about an nts:// server at its last poll; default for a plain server.
struct NtsStatus
{
    bool authenticated = false; // the last reply was authenticated
    QString reason;             // why the last step failed, "NTS: ..."; empty when it did not
    QString certificateSubject;
    QString certificateIssuer;
    QDateTime certificateExpiry; // UTC
};

enum class ServerState { Waiting, Polling, Answered, TimedOut };

// One row of the server list.
struct ServerRecord
{
    QString name; // verbatim as stored
    ServerState state = ServerState::Waiting;
    ServerReading reading; // the last answer's; kept through a later time-out
    bool everAnswered = false;
    ServerProblems problems;
    // With Disagrees: how many servers of the pass agreed, out of how many were counted.
    int agreeing = 0;
    int counted = 0;
    // With TooDistant: this server's root distance.
    double rootDistanceSeconds = 0.0;
    NtsStatus nts;
    // The address a name's last answer came from (one of a pool's); empty for an address literal.
    QString answeredFrom;
    // The server's recent samples through the clock filter: what the agreement and the clock
    // step went by, which may be an earlier sample than the one the row shows.
    int filteredSamples = 0;
    double filteredOffsetSeconds = 0.0;
    double jitterSeconds = 0.0;

    bool unhealthy() const { return problems != ServerProblems(); }
};

} // namespace ostrelle
