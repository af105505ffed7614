#pragma once

#include <QString>
#include <memory>

namespace ostrelle {

// Another service of this machine's that keeps the clock, as far as it can be told. One that runs
// and synchronises may undo a step made here.
struct TimeServiceState
{
    QString name; // for the operator, "Windows Time (W32Time)"; empty: none to ask about
    bool running = false;
    QString syncType; // as configured ("NTP", "NT5DS", "AllSync", "NoSync"); empty when unknown
    bool synchronises = false;

    bool mayUndoStep() const { return running && synchronises; }
};

// Behind an interface so that tests never ask the real system.
class TimeService
{
public:
    virtual ~TimeService() = default;

    // Asked afresh at every call: the operator may start or stop the service at any time.
    virtual TimeServiceState state() const = 0;
};

// One sentence for the operator when the service may undo a step; empty otherwise.
QString TimeServiceNote(const TimeServiceState& state);

// This system's: Windows Time on Windows. Elsewhere one that knows of none: on Linux
// systemd-timedated itself refuses a step while another service synchronises the clock.
std::unique_ptr<TimeService> CreateTimeService();

} // namespace ostrelle
