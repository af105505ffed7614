#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>

namespace ostrelle {

class Clock;

// Moves the machine's clock by an offset, answering later: a step may wait for the operator's
// password or for another process. The window never waits for it.
class ClockStepper : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks for the clock to move by offset (positive: forward). finished() follows exactly once,
    // possibly before step() returns. Refused at once while an earlier step is unanswered, and
    // without asking anyone after the operator declined, until allowAsking().
    void step(std::chrono::nanoseconds offset);

    // An earlier step has not been answered yet.
    virtual bool busy() const { return false; }

    // The operator declined to authorise a step; no one is asked again until allowAsking().
    bool declined() const { return m_declined; }
    // Clock adjustment was switched on again: the operator may be asked once more.
    void allowAsking() { m_declined = false; }

signals:
    // ok: the clock was moved. reason: why not, for the operator. cancelled: the operator
    // declined to authorise it.
    void finished(bool ok, const QString& reason, bool cancelled);

protected:
    virtual void startStep(std::chrono::nanoseconds offset) = 0;
    // Every answer goes through here, so that a refusal by the operator is remembered.
    void finish(bool ok, const QString& reason, bool cancelled);

private:
    bool m_declined = false;
};

// True when this process may set the clock itself: on Linux CAP_SYS_TIME in its effective set
// (effective user 0 where capabilities cannot be read), on Windows the time privilege in its token
// (an elevated administrator). Always true elsewhere.
bool MaySetClockDirectly();

// The stepper for this process: setting the clock directly where it may, otherwise asking
// systemd-timedated on the system bus (Linux) or an elevated copy of this program, started through
// Windows's consent prompt (Windows).
std::unique_ptr<ClockStepper> CreateClockStepper(Clock& clock);

// For main(), before anything else: when the command line is that of the elevated copy a stepper
// or the time service's switch started, does its work and returns the exit status; otherwise (always, off
// Windows) nothing.
std::optional<int> RunClockStepRequest(const QStringList& arguments);

} // namespace ostrelle
