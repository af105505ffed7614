#pragma once

#include "platform/clockstepper.h"

namespace ostrelle {

class Clock;

// Steps the clock in-process: reads it, adds the offset and sets the result at once, so that no
// time passes between the reading and the setting. Needs root or CAP_SYS_TIME.
class DirectClockStepper final : public ClockStepper
{
    Q_OBJECT
public:
    explicit DirectClockStepper(Clock& clock, QObject* parent = nullptr);

protected:
    void startStep(std::chrono::nanoseconds offset) override;

private:
    Clock& m_clock;
};

} // namespace ostrelle
