#pragma once

#include "platform/clockstepper.h"

#include <QList>

namespace ostrelle {

// Records every offset it is asked to step by and answers as told: at once, or later by answer().
class FakeClockStepper final : public ClockStepper
{
    Q_OBJECT
public:
    using ClockStepper::ClockStepper;

    bool busy() const override { return m_waiting; }

    // Answers the step that is waiting (for an answer that comes during a later pass).
    void answer(bool ok, const QString& reason = {}, bool cancelled = false);

    bool answerAtOnce = true;
    bool succeed = true;
    QString refusal = QStringLiteral("Automatic time synchronization is enabled");
    bool cancel = false;
    QList<std::chrono::nanoseconds> steps; // every step that reached the stepper

protected:
    void startStep(std::chrono::nanoseconds offset) override;

private:
    bool m_waiting = false;
};

} // namespace ostrelle
