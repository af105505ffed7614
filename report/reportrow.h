#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace ostrelle {

// Durations in the report are kept as the poll measured them, without rounding.
using ReportSeconds = std::chrono::duration<double>;
using ReportTime = std::chrono::sys_time<std::chrono::nanoseconds>;

enum class ReportOutcome { Answered, TimedOut, Refused };

// How a server's answer compared with the others'.
enum class RowVerdict { NotJudged, Truechimer, Falseticker };

// One server of the report: what it answered, and whether its row would be red.
struct ReportRow
{
    QString server;
    // The address a name was polled at: a name of several addresses is one row for each. Empty
    // for an address literal, an nts:// server and a name that could not be looked up.
    QString address;
    ReportOutcome outcome = ReportOutcome::TimedOut;
    QString refusal; // why a Refused server was refused: a kiss-o'-death code, a socket error

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
    RowVerdict verdict = RowVerdict::NotJudged;
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
};

// Exit statuses as monitoring plugins use them.
enum class ReportStatus { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// A row counts as usable when it is healthy and no falseticker.
bool IsUsable(const ReportRow& row);

// Ok when every row is usable; Critical when none is, or the servers do not agree; else Warning.
ReportStatus StatusOf(const Report& report);

} // namespace ostrelle
