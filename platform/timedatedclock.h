#pragma once

#include "platform/clockstepper.h"
#include "platform/timeservice.h"

#include <QDBusConnection>
#include <QTimer>

class QDBusPendingCallWatcher;

namespace ostrelle {

// Asks systemd-timedated to move the clock (org.freedesktop.timedate1.SetTime, relative, with
// interactive authorisation), so that a desktop user needs neither root nor setcap: polkit asks
// for a password, and the time spent typing it never goes into the clock. The answer is waited
// for at most answerWait; a later answer is ignored.
class TimedatedClockStepper final : public ClockStepper
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultAnswerWait{90000};

    explicit TimedatedClockStepper(const QDBusConnection& bus,
                                   std::chrono::milliseconds answerWait = DefaultAnswerWait,
                                   QObject* parent = nullptr);

    bool busy() const override { return m_pending != nullptr; }

    // True for the errors by which polkit or timedated say the operator did not authorise the call.
    static bool isDeclinedAuthorisation(const QString& errorName);

protected:
    void startStep(std::chrono::nanoseconds offset) override;

private:
    void answered(QDBusPendingCallWatcher* watcher);
    void noAnswer();

    QDBusConnection m_bus;
    std::chrono::milliseconds m_answerWait;
    QTimer m_answerTimer;
    QDBusPendingCallWatcher* m_pending = nullptr; // a child of this stepper
};

// systemd-timedated's automatic synchronisation (CanNTP, NTP, NTPSynchronized). They change
// without a signal, so each ask() reads them afresh. While NTP is on, timedated refuses every
// SetTime; SetNTP hands the clock over or back, with polkit asking for a password.
class TimedatedTimeService final : public TimeService
{
public:
    static constexpr std::chrono::milliseconds AnswerWait{5000};
    static constexpr std::chrono::milliseconds SwitchWait{90000}; // room for a password prompt

    explicit TimedatedTimeService(const QDBusConnection& bus);

    TimeServiceState state() const override { return m_last; }
    void ask(QObject* context, Answer answer) const override;
    void setAutomaticSync(bool on, QObject* context, Done done) override;

private:
    QDBusConnection m_bus;
    mutable TimeServiceState m_last;
};

} // namespace ostrelle
