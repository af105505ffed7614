#pragma once

#include "platform/clock.h"
#include "platform/systemclock.h"

namespace ostrelle {

// The machine's clock for reading only: setting it is always refused, so that the headless report
// can share the window's polling code and still never move the clock, whatever it is told.
class ReadingClock final : public Clock
{
public:
    std::chrono::system_clock::time_point now() const override { return m_clock.now(); }
    std::chrono::nanoseconds resolution() const override { return m_clock.resolution(); }
    [[nodiscard]] bool setUtc(std::chrono::system_clock::time_point) override { return false; }

private:
    SystemClock m_clock;
};

} // namespace ostrelle
