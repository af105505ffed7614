#pragma once

#include "app/monitor.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/serverlistmodel.h"

#include <QStringList>
#include <utility>

namespace ostrelle::test {

// The poll cycle over the server table with the clock and the messages faked, and a channel of the
// test's choosing (the fake, or the real socket). Rows are numbered from 1 here, as the operator
// counts them; each tick is one second of the fake clock.
template <typename Channel> struct PollCycleRig
{
    template <typename... ChannelArgs>
    explicit PollCycleRig(ChannelArgs&&... args) : channel(std::forward<ChannelArgs>(args)...)
    {
    }

    void tick(int ticks = 1)
    {
        for (int i = 0; i < ticks; ++i) {
            clock.advanceMs(1000);
            cycle.tick();
        }
    }

    QString cell(int row, ServerColumn col = ServerColumn::Status) const
    {
        return model.rowCount() >= row ? ServerCellText(model.record(row - 1), col) : QString();
    }
    QString status(int row) const { return cell(row); }
    QStringList column(ServerColumn col) const
    {
        QStringList cells;
        for (int row = 1; row <= model.rowCount(); ++row)
            cells << cell(row, col);
        return cells;
    }
    bool colour(int row) const { return model.record(row - 1).unhealthy(); }

    ServerListModel model;
    Settings settings;
    Channel channel;
    FakeClock clock;
    ScriptedMessageDialog messages;
    PollCycle cycle{channel, clock, messages};
    // Last, so that the table and the cycle exist when they are linked.
    bool linked = (LinkServerTable(model, cycle), true);
};

} // namespace ostrelle::test
