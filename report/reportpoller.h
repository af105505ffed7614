#pragma once

#include "ntp/nts/ntssessions.h"
#include "ntp/serverexchange.h"
#include "platform/hostresolver.h"
#include "report/runreport.h"
#include "servers/serverrecord.h"
#include "servers/settings.h"
#include "timekeeping/ntptime.h"

#include <QList>
#include <QString>
#include <chrono>

namespace ostrelle {

class Clock;
class SettingsBackend;

// The report's rows and verdict from every server's poll (each judged by the limits it was
// polled with): the window's flags as reasons, and the agreement check over the answers that could set the
// clock, aged to passEnd. waited is the time-out a silent server was given.
Report JudgeServerPolls(const QList<PollStep>& polls, UtcTime passEnd, std::chrono::milliseconds waited);

// The poller behind `ostrelle --report`: every server at once (at most MaxInFlight requests
// outstanding), each with its own socket, random request nonce, strict originate check and
// time-out; a name of several addresses is polled as that many servers. It only reads the clock,
// never sets it.
class ReportPoller final : public ReportSource
{
public:
    static constexpr int MaxInFlight = 64;

    // store gives the server list and the limits when the command line names none.
    // resolver looks the servers' names up.
    ReportPoller(Clock& clock, SettingsBackend& store, HostResolver& resolver = SystemHostResolver());

    // Runs an event loop of its own until every server has answered or timed out.
    Report collect(const ReportOptions& options) override;
    std::chrono::seconds storedPollInterval() override;

private:
    Clock& m_clock;
    SettingsBackend& m_store;
    HostResolver& m_resolver;
    NtsSessions m_ntsSessions;
};

} // namespace ostrelle
