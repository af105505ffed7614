#pragma once

#include "platform/clock.h"

namespace ostrelle {

// The machine's clock to the nanosecond, for reading only: setting it is always refused. The
// report times its requests with it, because the kernel stamps each reply to the nanosecond and
// a send time cut to the millisecond would make short round trips come out negative.
class ReadingClock final : public Clock
{
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
    [[nodiscard]] bool setUtc(std::chrono::system_clock::time_point) override { return false; }
};

} // namespace ostrelle
