#pragma once

#include "platform/timeservice.h"

#include <QList>

namespace ostrelle {

// Reports the state the test gives it, and records every switch asked of it, which succeeds.
class FakeTimeService final : public TimeService
{
public:
    TimeServiceState state() const override { return current; }
    void setAutomaticSync(bool on, QObject*, Done done) override
    {
        switches.append(on);
        done(true, {});
    }

    TimeServiceState current;
    QList<bool> switches;
};

} // namespace ostrelle
