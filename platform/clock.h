#pragma once

#include "platform/systemtime.h"

namespace ostrelle {

// The machine's UTC clock. Behind an interface so that tests never read or set the real one.
class Clock
{
public:
    virtual ~Clock() = default;

    // The current UTC time to the millisecond.
    virtual SYSTEMTIME utcNow() const = 0;

    // Steps the clock to the given UTC time; false when the platform refused.
    [[nodiscard]] virtual bool setUtc(const SYSTEMTIME& time) = 0;
};

} // namespace ostrelle
