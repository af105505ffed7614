#pragma once

#include "platform/clock.h"

namespace ostrelle {

// The operating system's real-time clock.
class SystemClock final : public Clock
{
public:
    // CLOCK_REALTIME to the nanosecond on Linux; GetSystemTimePreciseAsFileTime, to 100 ns, on
    // Windows.
    std::chrono::system_clock::time_point now() const override;
    std::chrono::nanoseconds resolution() const override;
    [[nodiscard]] bool setUtc(std::chrono::system_clock::time_point time) override;
};

} // namespace ostrelle
