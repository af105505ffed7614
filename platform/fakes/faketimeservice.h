#pragma once

#include "platform/timeservice.h"

namespace ostrelle {

// Reports the state the test gives it.
class FakeTimeService final : public TimeService
{
public:
    TimeServiceState state() const override { return current; }

    TimeServiceState current;
};

} // namespace ostrelle
