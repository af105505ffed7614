#include "platform/directclockstepper.h"

#include "platform/clock.h"

namespace ostrelle {

DirectClockStepper::DirectClockStepper(Clock& clock, QObject* parent) : ClockStepper(parent), m_clock(clock)
{
}

void DirectClockStepper::startStep(std::chrono::nanoseconds offset)
{
    using std::chrono::system_clock;
    // Read immediately before setting: whatever the pass spent since its measurement must not go
    // into the clock.
    const system_clock::time_point then =
        m_clock.now() + std::chrono::duration_cast<system_clock::duration>(offset);
    if (m_clock.setUtc(then))
        finish(true, {}, false);
    else
        finish(false, QStringLiteral("The system refused to set the clock"), false);
}

} // namespace ostrelle
