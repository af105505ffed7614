#include "platform/fakes/fakeclockstepper.h"

namespace ostrelle {

void FakeClockStepper::startStep(std::chrono::nanoseconds offset)
{
    steps.append(offset);
    if (answerAtOnce)
        finish(succeed, succeed ? QString() : refusal, !succeed && cancel);
    else
        m_waiting = true;
}

void FakeClockStepper::answer(bool ok, const QString& reason, bool cancelled)
{
    if (!m_waiting)
        return;
    m_waiting = false;
    finish(ok, reason, cancelled);
}

} // namespace ostrelle
