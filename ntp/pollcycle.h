#pragma once

#include "ntp/agreement.h"
#include "ntp/nts/ntssessions.h"
#include "ntp/passjudgement.h"
#include "ntp/serverexchange.h"
#include "platform/messagedialog.h"
#include "platform/udpchannel.h"
#include "servers/serverrecord.h"
#include "servers/settings.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace ostrelle {

class Clock;
class ClockStepper;
class HostResolver;
class TimeService;
struct TimeServiceState;

// A server of the current pass that may set the clock: its row, and its step with the offset and
// jitter its clock filter believes.
struct SourceCandidate
{
    int row = -1;
    PollStep step;
};

// The round-robin over the server list: one request at a time, ten ticks to answer, then the end
// of the pass with the optional clock setting. Driven by its events (tick, channel ready,
// datagram, channel error) so that tests can step it; it knows no widgets.
class PollCycle : public QObject
{
    Q_OBJECT
public:
    static constexpr int TicksToAnswer = 10;
    // How many of a server's recent answers its clock filter looks at.
    static constexpr int RecentSamples = 8;

    PollCycle(UdpChannel& channel, Clock& clock, MessageDialog& messages, QObject* parent = nullptr);
    ~PollCycle() override;

    // Settings with clock adjustment on let the stepper ask the operator again.
    void setSettings(const Settings& settings);
    // What steps the clock at the end of a pass; without one, the clock is set directly.
    void setClockStepper(ClockStepper& stepper);
    // Another service that may keep the clock: asked at the end of each pass that would step it,
    // and while it keeps the clock no step is tried. Without one, every such pass steps.
    void setTimeService(const TimeService& service) { m_timeService = &service; }
    const Settings& settings() const { return m_settings; }
    // Names are looked up through resolver, and a name of several addresses is one row that asks
    // one address, stays with it while it answers, and moves on to the next when it falls silent.
    void setHostResolver(HostResolver& resolver) { m_exchange.setHostResolver(resolver); }

    // The servers it polls, in the table's order, as the operator changes them: a new list, rows
    // inserted before row, rows first to last removed. A step under way with a server that is
    // gone is dropped, and so is all the cycle knew of it.
    void setServers(const QStringList& names);
    void insertServers(int row, const QStringList& names);
    void removeServers(int first, int last);
    const QStringList& servers() const { return m_servers; }
    // The first step at once, as at start-up.
    void start();
    // The one-second tick.
    void tick();
    // Ends the current step and starts the next one, or ends the pass.
    void pollNextServer();
    // The channel knows the polled server's address: the request is built and sent now.
    void sendRequest() { m_exchange.sendRequest(); }
    // kernelTime: when the system took the datagram in (T4); without it, the time of this call.
    void processDatagram(const QByteArray& datagram, ReceiveTime kernelTime = {})
    {
        m_exchange.processDatagram(datagram, kernelTime);
    }
    // The channel could not make a socket: this request fails, polling goes on.
    void onChannelError(const QString& description) { m_exchange.onChannelError(description); }
    // The next tick acts at once (after the operator changed the list or the options).
    void pollSoon() { m_countdown = 0; }

    int pollRow() const { return m_pollRow; } // -1 before the first server of a pass
    int countdown() const { return m_countdown; }
    bool awaitingReply() const { return m_exchange.isRunning(); }
    double requestSendTime() const { return m_exchange.requestSendTime(); } // T1, NtpSeconds
    const NtpTimestampBytes& requestNonce() const { return m_exchange.requestNonce(); }
    const QList<SourceCandidate>& candidates() const { return m_candidates; }
    // The NTS sessions of the nts:// servers polled so far.
    NtsSessions& ntsSessions() { return m_ntsSessions; }

    const QString& lastPollText() const { return m_lastPollText; }
    const QString& synchronisedToText() const { return m_synchronisedToText; }
    const QString& lastAdjustmentText() const { return m_lastAdjustmentText; }
    // Why "Synchronised to:" reads "None" although clock adjustment is on; empty otherwise.
    const QString& synchronisedToToolTip() const { return m_synchronisedToToolTip; }

signals:
    void labelsChanged();
    // The step with the server at row has begun.
    void pollingServer(int row);
    // The server at row has been polled: answered, silent or refused.
    void serverPolled(const ostrelle::PollStep& step, int row);
    // What the server's clock filter believes after its latest answer.
    void serverFiltered(int row, const ostrelle::PollStep& filtered);
    // The pass's agreement found the server at row a falseticker (Disagrees, with how many agreed
    // out of how many) or too far from a reference (TooDistant, with its root distance).
    void agreementProblem(int row, ostrelle::ServerProblems problems, int agreeing, int counted,
                          double rootDistanceSeconds);
    // A pass ended and the list's rows show its verdicts; noMajority: servers answered, but no
    // point was shared by more than half of them.
    void passFinished(bool noMajority);
    // The clock was moved by offsetSeconds (positive: forward) from server.
    void clockStepped(const QString& server, double offsetSeconds);
    // The clock was not moved although a source was chosen: why, and whether the operator declined.
    void clockRefused(const QString& reason, bool cancelled);

private:
    void endOfPass();
    void markAgreementProblems(const QList<SourceCandidate>& candidates, const PassJudgement& judgement);
    void stepUnlessKept(const TimeServiceState& state);
    void clockStepFinished(bool ok, const QString& reason, bool cancelled);
    void stepFinished(const PollStep& step);
    void recordStep(int row, const PollStep& step);
    void addCandidate(int row, const PollStep& step);
    // Sessions live as long as their name is in the list; this step's may end with it.
    void dropUnlistedNtsSessions();
    // Shows a message after the current handler has returned, unless the same kind is still open.
    void showOnce(bool& open, const QString& text, const QString& title, MessageDialog::Icon icon,
                  const QString& detailedText = {});

    QStringList m_servers;
    UdpChannel& m_channel;
    Clock& m_clock;
    MessageDialog& m_messages;
    Settings m_settings;

    int m_pollRow = -1;
    int m_countdown = 0;
    QList<SourceCandidate> m_candidates;
    // Each server's recent usable answers, oldest first; their offsets follow every step of the
    // clock, so that they stay measured against the clock as it is.
    QHash<QString, QList<PollStep>> m_recentSamples;
    NtsSessions m_ntsSessions;
    ServerExchange m_exchange;
    // Which address each name's next step asks: the one that answered, or the one after the one
    // that fell silent.
    QHash<QString, AddressChoice> m_addressChoices;
    // The tick is ending the step: it goes on to the next server itself.
    bool m_tickTimingOut = false;

    std::unique_ptr<ClockStepper> m_directStepper;
    ClockStepper* m_stepper = nullptr;
    const TimeService* m_timeService = nullptr;
    bool m_askingTimeService = false;
    // The source of the step the stepper has not answered yet; its answer sets the labels.
    std::optional<SourceCandidate> m_pendingStep;

    bool m_clockMessageOpen = false;
    bool m_socketMessageOpen = false;

    QString m_lastPollText = QStringLiteral("-");
    QString m_synchronisedToText = QStringLiteral("None");
    QString m_lastAdjustmentText = QStringLiteral("None");
    QString m_synchronisedToToolTip;
};

} // namespace ostrelle
