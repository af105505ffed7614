#pragma once

#include <chrono>

namespace ostrelle {

// The machine's UTC clock. Behind an interface so that tests never read or set the real one, and
// so that other ways of setting it (a system service) sit behind the same two calls.
class Clock
{
public:
    virtual ~Clock() = default;

    // The current UTC time.
    virtual std::chrono::system_clock::time_point now() const = 0;

    // The smallest step between two readings of now(); part of every measurement's error.
    virtual std::chrono::nanoseconds resolution() const { return std::chrono::nanoseconds(1); }

    // Steps the clock to the given UTC time; false when the platform refused.
    [[nodiscard]] virtual bool setUtc(std::chrono::system_clock::time_point time) = 0;
};

} // namespace ostrelle
