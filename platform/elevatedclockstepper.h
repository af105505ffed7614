#pragma once

#include "platform/clockstepper.h"

#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace ostrelle {

// Windows only. Moves the clock through a second, elevated copy of this program: Windows shows its
// consent prompt (the counterpart of polkit's on Linux) before the copy runs, and only an elevated
// administrator holds the right to set the time. The copy steps the clock by the offset from its
// own reading, so the time the operator spends in the prompt never goes into the clock. The launch
// and the wait for the copy run on a thread of their own, so the window never waits; an answer
// later than answerWait is ignored.
class ElevatedClockStepper final : public ClockStepper
{
    Q_OBJECT
public:
    // How one run of the elevated copy ended.
    struct Outcome
    {
        enum class Kind {
            Exited,     // it ran; code is its exit status: 0 when the clock was set, else a Win32 error
            Declined,   // the operator declined the consent prompt
            NotStarted, // it could not be started; code is the Win32 error
        };
        Kind kind = Kind::NotStarted;
        unsigned long code = 0;
    };
    // Starts the elevated copy for offset and waits until it ends; called on a thread of its own.
    using Launcher = std::function<Outcome(std::chrono::nanoseconds offset)>;

    static constexpr std::chrono::milliseconds DefaultAnswerWait{90000};

    explicit ElevatedClockStepper(Launcher launcher, std::chrono::milliseconds answerWait = DefaultAnswerWait,
                                  QObject* parent = nullptr);
    ~ElevatedClockStepper() override;

    bool busy() const override { return m_waitingFor != 0; }

    // The real launcher: program StepOption <offset in ns>, started with the "runas" verb.
    static Launcher RunasLauncher(const QString& program);

    // The option by which the elevated copy knows what it is for.
    static constexpr const char* StepOption = "--step-clock";
    // The elevated copy's own work, in main() before anything else: when arguments ask for a step,
    // steps the clock by the offset from its own reading and returns the exit status (0, or the
    // Win32 error that refused it); otherwise nothing.
    static std::optional<int> RunStepRequest(const QStringList& arguments);

    // The text the operator sees for an outcome that did not set the clock.
    static QString reasonFor(const Outcome& outcome);

protected:
    void startStep(std::chrono::nanoseconds offset) override;

private:
    struct Answers;

    void answered(quint64 step, const Outcome& outcome);
    void noAnswer();

    Launcher m_launcher;
    std::chrono::milliseconds m_answerWait;
    QTimer m_answerTimer;
    quint64 m_lastStep = 0;
    quint64 m_waitingFor = 0; // the step whose answer is awaited; 0 when none
    // Shared with the launch threads, which outlive this stepper when the operator leaves a
    // prompt open: they post answers only while it still exists.
    std::shared_ptr<Answers> m_answers;
};

// Starts program with arguments through the "runas" verb (Windows shows its consent prompt first)
// and waits until it ends; never on the window's thread.
ElevatedClockStepper::Outcome RunElevated(const QString& program, const QStringList& arguments);

// Whether this process's token holds the right to set the time (an elevated administrator's does;
// an ordinary user's, or an administrator's filtered by UAC, does not).
bool ProcessHoldsTimePrivilege();

} // namespace ostrelle
