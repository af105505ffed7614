#pragma once

#include "platform/clock.h"

namespace ostrelle {

// The operating system's real-time clock (clock_gettime/clock_settime, or the Win32 calls).
class SystemClock final : public Clock
{
public:
    SYSTEMTIME utcNow() const override;
    [[nodiscard]] bool setUtc(const SYSTEMTIME& time) override;
};

} // namespace ostrelle
