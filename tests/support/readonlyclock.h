#pragma once

#include "platform/systemclock.h"

namespace ostrelle {

// The machine's real clock for reading only: every attempt to set it is refused and counted, so
// that tests and benchmarks can run the real program without ever moving the machine's time.
class ReadOnlyClock final : public Clock
{
public:
    std::chrono::system_clock::time_point now() const override { return m_system.now(); }
    std::chrono::nanoseconds resolution() const override { return m_system.resolution(); }
    [[nodiscard]] bool setUtc(std::chrono::system_clock::time_point) override
    {
        ++setAttempts;
        return false;
    }

    int setAttempts = 0;

private:
    SystemClock m_system;
};

} // namespace ostrelle
