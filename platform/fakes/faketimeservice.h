#pragma once

#include "platform/timeservice.h"

namespace ostrelle {

// Reports the state the test gives it, and counts how often it was asked.
class FakeTimeService final : public TimeService
{
public:
    TimeServiceState state() const override
    {
        ++queries;
        return current;
    }

    TimeServiceState current;
    mutable int queries = 0;
};

} // namespace ostrelle
