#pragma once

#include "ntp/agreement.h"
#include "ntp/polloutcome.h"
#include "report/thresholdrange.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace ostrelle {

// Durations in the report are kept as the poll measured them, without rounding.
using ReportSeconds = std::chrono::duration<double>;
using ReportTime = std::chrono::sys_time<std::chrono::nanoseconds>;

// What NTS did for an nts:// server in this pass.
struct ReportNts
{
    bool authenticated = false; // the answer that counts was authenticated
    QString failure;            // why the key exchange or the authentication failed; empty when neither did
    int cookies = 0;            // cookies left for the next requests without a new key exchange
};

// One server of the report: what it answered, and whether its row would be red.
struct ReportRow
{
    QString server;
    // The address a name was polled at: a name of several addresses is one row for each. Empty
    // for an address literal, an nts:// server and a name that could not be looked up.
    QString address;
    PollOutcome outcome = PollOutcome::TimedOut;
    QString refusal; // the reason of a Refused or KissOfDeath outcome: a socket error, the kiss code...

    // Meaningful when Answered.
    int leap = 0;
    int version = 0;
    int stratum = 0;
    QString referenceId;
    std::optional<ReportTime> referenceTime; // empty when the server left it zero
    ReportSeconds roundTrip{};
    ReportSeconds offset{}; // positive when the local clock is behind the server
    ReportSeconds rootDelay{};
    ReportSeconds rootDispersion{};
    ReportSeconds jitter{}; // spread of the samples' offsets around the one that counts
    int samples = 0;        // answered samples
    int requests = 0;       // samples asked for

    bool healthy = false;
    QStringList reasons; // why the row is red; empty when healthy
    // How the answer compared with the others'; Undecided also for a row that took no part.
    AgreementVerdict verdict = AgreementVerdict::Undecided;

    std::optional<ReportTime> answeredAt; // when the last answer arrived; empty when none ever did
    std::optional<ReportNts> nts;         // for nts:// servers only
};

enum class ReportAgreement { NotChecked, Agreed, NoAgreement };

// The report over all servers: the server the clock would be set from, and whether they agree.
struct ReportVerdict
{
    std::optional<QString> bestServer;
    QString bestAddress; // as ReportRow::address
    ReportSeconds bestOffset{};
    ReportAgreement agreement = ReportAgreement::NotChecked;
};

struct Report
{
    QList<ReportRow> rows;
    ReportVerdict verdict;
    ReportThresholds thresholds{}; // the operator's, which the status and the perfdata go by
};

// Exit statuses as monitoring plugins use them.
enum class ReportStatus { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// A row counts as usable when it is healthy and no falseticker.
bool IsUsable(const ReportRow& row);

// Where an answered row stands against the thresholds: Critical when any measure is outside its
// critical range, else Warning when any is outside its warning range, else Ok. Ok for a row
// without an answer: its silence already counts against its health.
ReportStatus ThresholdStatusOf(const ReportRow& row, const ReportThresholds& thresholds);

// The worse of two: Critical, then Warning, then Unknown, then Ok, as monitoring systems rank them.
ReportStatus WorseStatus(ReportStatus a, ReportStatus b);

// Ok when every row is usable; Critical when none is, or the servers do not agree; else Warning.
// Worse when a row is beyond the thresholds: every answered row is held to them, not only the
// chosen source, so that a fleet's drifting member is seen before it is chosen.
ReportStatus StatusOf(const Report& report);

} // namespace ostrelle
