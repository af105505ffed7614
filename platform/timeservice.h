#pragma once

#include <QString>
#include <functional>
#include <memory>

class QObject;

namespace ostrelle {

// Another service of this machine's that keeps the clock, as far as it can be told. One that runs
// and synchronises may undo a step made here.
struct TimeServiceState
{
    QString name; // for the operator, "Windows Time (W32Time)"; empty: none to ask about
    bool running = false;
    QString syncType; // as configured ("NTP", "NT5DS", "AllSync", "NoSync"); empty when unknown
    bool synchronises = false;
    // The system refuses every step made here while this service keeps the clock
    // (systemd-timedated with automatic synchronisation on).
    bool keepsClock = false;
    bool synchronised = false; // it says the clock is synchronised
    bool canHandOver = false;  // its automatic synchronisation may be switched off and on from here

    bool mayUndoStep() const { return running && synchronises; }
};

// Behind an interface so that tests never ask the real system.
class TimeService
{
public:
    virtual ~TimeService() = default;

    using Answer = std::function<void(const TimeServiceState&)>;
    using Done = std::function<void(bool ok, const QString& reason)>;

    // Asked afresh at every call: the operator may start or stop the service at any time. Where
    // asking means a round trip over a bus, the last answer ask() had.
    virtual TimeServiceState state() const = 0;
    // Asks afresh without waiting; answer follows once, possibly before ask() returns, and never
    // after context is gone.
    virtual void ask(QObject* context, Answer answer) const
    {
        Q_UNUSED(context);
        answer(state());
    }
    // Switches the service's automatic synchronisation on (giving the clock back to it) or off
    // (handing the clock over to this program); the system may ask for a password first.
    virtual void setAutomaticSync(bool on, QObject* context, Done done);
};

// One sentence for the operator when the service keeps the clock or may undo a step; empty
// otherwise.
QString TimeServiceNote(const TimeServiceState& state);
// The same in a few words, to show beside clock adjustment; empty otherwise.
QString TimeServiceHeadline(const TimeServiceState& state);

// This system's: Windows Time on Windows; on Linux systemd-timedated's automatic synchronisation,
// unless this process sets the clock itself, when timedated has no say.
std::unique_ptr<TimeService> CreateTimeService();

} // namespace ostrelle
