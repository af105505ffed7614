#include "ntp/pollcycle.h"

#include "ntp/arrivaltime.h"
#include "ntp/clockfilter.h"
#include "ntp/ntpreply.h"
#include "ntp/polloutcome.h"
#include "ntp/unhealthyreason.h"
#include "platform/clock.h"
#include "platform/directclockstepper.h"
#include "platform/messagedialog.h"
#include "platform/timeservice.h"
#include "platform/udpchannel.h"
#include "servers/serverformat.h"
#include "servers/servername.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace ostrelle {

PollCycle::PollCycle(UdpChannel& channel, Clock& clock, MessageDialog& messages, QObject* parent)
    : QObject(parent), m_channel(channel), m_clock(clock), m_messages(messages),
      m_exchange(channel, clock, m_ntsSessions), m_directStepper(std::make_unique<DirectClockStepper>(clock))
{
    setClockStepper(*m_directStepper);
    connect(&m_exchange, &ServerExchange::finished, this, &PollCycle::stepFinished);
    // After the exchange has ended the step with it.
    connect(&m_channel, &UdpChannel::errorOccurred, this, [this](const QString& description) {
        showOnce(m_socketMessageOpen, SocketErrorText(description), QStringLiteral("Brevikon Ostrelle"),
                 MessageDialog::Icon::Critical);
    });
}

PollCycle::~PollCycle() = default;

void PollCycle::setSettings(const Settings& settings)
{
    // Settings come from the store at start-up and from the operator's OK in Options: with clock
    // adjustment on, either is a fresh wish to have the clock set, so a declined prompt may come again.
    if (settings.adjustClock)
        m_stepper->allowAsking();
    m_settings = settings;
}

void PollCycle::setClockStepper(ClockStepper& stepper)
{
    if (m_stepper)
        disconnect(m_stepper, &ClockStepper::finished, this, &PollCycle::clockStepFinished);
    m_stepper = &stepper;
    m_pendingStep.reset();
    connect(m_stepper, &ClockStepper::finished, this, &PollCycle::clockStepFinished);
}

void PollCycle::start()
{
    m_candidates.clear();
    m_countdown = 0;
    tick();
}

void PollCycle::tick()
{
    --m_countdown;
    if (m_countdown > 0)
        return;
    if (m_exchange.isRunning() && m_pollRow >= 0 && m_pollRow < m_servers.size()) {
        m_tickTimingOut = true;
        m_exchange.timeOut();
        m_tickTimingOut = false;
    }
    pollNextServer();
}

void PollCycle::pollNextServer()
{
    m_exchange.abandon();
    m_channel.close();
    if (m_servers.isEmpty()) {
        m_countdown = m_settings.pollIntervalSeconds;
        return;
    }
    for (;;) {
        ++m_pollRow;
        if (m_pollRow >= m_servers.size()) {
            endOfPass();
            return;
        }
        const QString& name = m_servers.at(m_pollRow);
        if (ServerExchange::canPoll(name))
            break;
        // A blank, over-long or malformed name is never looked up: its row times out at once.
        recordStep(m_pollRow, ServerExchange::unpollableStep(name, m_clock.now()));
    }
    emit pollingServer(m_pollRow);
    m_countdown = TicksToAnswer;
    const QString& name = m_servers.at(m_pollRow);
    m_exchange.start(name, m_settings, std::chrono::seconds(m_countdown), m_addressChoices.value(name));
}

void PollCycle::stepFinished(const PollStep& step)
{
    if (m_pollRow < 0 || m_pollRow >= m_servers.size())
        return;
    const int row = m_pollRow;
    if (!step.address.isNull()) {
        m_addressChoices.insert(step.server, {step.address, step.answered ? AddressChoice::Rule::StayWith
                                                                          : AddressChoice::Rule::After});
    }
    recordStep(row, step);
    if (step.answered) {
        if (step.reading.usableAsSource)
            addCandidate(row, step);
        pollNextServer();
    } else if (!m_tickTimingOut) {
        // A socket that could not be made or a refused key exchange: the next server at the next
        // tick, by when a shortage of descriptors is often gone.
        m_countdown = 1;
    }
}

void PollCycle::addCandidate(int row, const PollStep& step)
{
    QList<PollStep>& recent = m_recentSamples[step.server];
    // Another address of a pool is another clock: the filter starts over with it.
    if (!recent.isEmpty() && recent.last().address != step.address)
        recent.clear();
    recent.append(step);
    if (recent.size() > RecentSamples)
        recent.removeFirst();
    // The agreement and the clock go by the filtered offset, the table by the latest.
    const PollStep filtered = FilteredStep(recent, NowNtpSeconds(m_clock));
    emit serverFiltered(row, filtered);
    m_candidates.append({row, filtered});
}

void PollCycle::recordStep(int row, const PollStep& step)
{
    emit serverPolled(step, row);
}

void PollCycle::endOfPass()
{
    m_pollRow = -1;
    m_countdown = m_settings.pollIntervalSeconds;
    const double now = NowNtpSeconds(m_clock);
    if (const QString text = DateTimeText(now); !text.isEmpty())
        m_lastPollText = text;
    m_synchronisedToText = QStringLiteral("None");
    m_lastAdjustmentText = QStringLiteral("None");
    m_synchronisedToToolTip.clear();

    // Taken before anything can reach the operator, so that the next pass starts clean.
    const QList<SourceCandidate> candidates = std::exchange(m_candidates, {});
    QList<PollStep> steps;
    steps.reserve(candidates.size());
    for (const SourceCandidate& c : candidates)
        steps.append(c.step);
    const PassJudgement judgement = JudgePass(steps, now, m_clock.resolution());
    const AgreementResult& agreement = judgement.agreement;
    markAgreementProblems(candidates, judgement);
    emit passFinished(agreement.why == NoClockSource::NoMajority);

    if (m_settings.adjustClock) {
        if (!judgement.source) {
            m_synchronisedToToolTip = ClockNotSetText(agreement);
        } else if (m_stepper->busy() || m_askingTimeService) {
            // The operator may still be typing a password for an earlier pass's step.
            m_synchronisedToToolTip = QStringLiteral(
                "Clock not set: an earlier change of the clock is still waiting for an answer");
        } else {
            m_pendingStep = candidates.at(*judgement.source);
            if (m_timeService) {
                // Read now, when it matters: the service may have been switched since the last pass.
                m_askingTimeService = true;
                m_timeService->ask(this, [this](const TimeServiceState& state) {
                    m_askingTimeService = false;
                    stepUnlessKept(state);
                });
            } else {
                stepUnlessKept({});
            }
        }
    }
    emit labelsChanged();
}

void PollCycle::stepUnlessKept(const TimeServiceState& state)
{
    if (!m_pendingStep)
        return;
    if (state.keepsClock) {
        // The system would refuse the step: say who keeps the clock instead of trying.
        m_pendingStep.reset();
        m_synchronisedToToolTip = TimeServiceNote(state);
        emit labelsChanged();
        return;
    }
    // Whole microseconds: the offset carries no finer truth (NtpSeconds as a double resolve about
    // half a microsecond), and the system service takes microseconds. The stepper may answer
    // before step() returns, or in a later pass.
    m_stepper->step(std::chrono::round<std::chrono::microseconds>(
        AgreementSeconds(m_pendingStep->step.reading.offsetSeconds)));
}

void PollCycle::markAgreementProblems(const QList<SourceCandidate>& candidates,
                                      const PassJudgement& judgement)
{
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        if (const ServerProblems problems = judgement.problemsOf(i))
            emit agreementProblem(candidates.at(i).row, problems, judgement.agreement.agreeing,
                                  judgement.agreement.counted,
                                  judgement.agreementOf(i)->rootDistance.count());
    }
}

void PollCycle::clockStepFinished(bool ok, const QString& reason, bool cancelled)
{
    if (!m_pendingStep)
        return;
    const SourceCandidate source = *std::exchange(m_pendingStep, std::nullopt);
    if (ok) {
        // Every offset measured so far was against the clock before this step, which moved it by
        // the offset applied.
        const double applied =
            std::chrono::duration<double>(std::chrono::round<std::chrono::microseconds>(
                                              AgreementSeconds(source.step.reading.offsetSeconds)))
                .count();
        for (QList<PollStep>& samples : m_recentSamples) {
            for (PollStep& sample : samples)
                sample.reading.offsetSeconds -= applied;
        }
        m_synchronisedToText = source.step.server;
        m_lastAdjustmentText = SecondsText(source.step.reading.offsetSeconds) + QStringLiteral(" secs");
        m_synchronisedToToolTip.clear();
        emit clockStepped(source.step.server, source.step.reading.offsetSeconds);
    } else {
        m_synchronisedToToolTip = ClockRefusedText(reason, cancelled);
        emit clockRefused(reason, cancelled);
        // The operator who declined knows; asking again is for the Options dialog.
        if (!cancelled) {
            showOnce(m_clockMessageOpen, QStringLiteral("Unable to set system time."),
                     QStringLiteral("Ostrelle"), MessageDialog::Icon::Warning, reason);
        }
    }
    emit labelsChanged();
}

void PollCycle::setServers(const QStringList& names)
{
    m_servers = names;
    dropUnlistedNtsSessions();
    m_exchange.abandon();
    m_pollRow = -1;
    m_candidates.clear();
}

void PollCycle::insertServers(int row, const QStringList& names)
{
    row = std::clamp(row, 0, int(m_servers.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        m_servers.insert(row + i, names.at(i));
    const int count = int(names.size());
    if (row <= m_pollRow)
        m_pollRow += count;
    for (SourceCandidate& c : m_candidates) {
        if (c.row >= row)
            c.row += count;
    }
}

void PollCycle::removeServers(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, int(m_servers.size()) - 1);
    if (first > last)
        return;
    m_servers.remove(first, last - first + 1);
    dropUnlistedNtsSessions();
    const int count = last - first + 1;
    if (first <= m_pollRow) {
        // The next step goes on with the server that now sits in the removed rows' place.
        if (m_pollRow <= last) {
            m_exchange.abandon();
            m_pollRow = first - 1;
        } else {
            m_pollRow -= count;
        }
    }
    QList<SourceCandidate> kept;
    for (SourceCandidate c : std::as_const(m_candidates)) {
        if (c.row >= first && c.row <= last)
            continue;
        if (c.row > last)
            c.row -= count;
        kept.append(c);
    }
    m_candidates = kept;
}

void PollCycle::dropUnlistedNtsSessions()
{
    const QStringList& names = m_servers;
    if (m_exchange.isRunning() && !names.contains(m_exchange.server()))
        m_exchange.abandon();
    m_ntsSessions.retainOnly(names);
    for (auto it = m_recentSamples.begin(); it != m_recentSamples.end();)
        it = names.contains(it.key()) ? std::next(it) : m_recentSamples.erase(it);
    for (auto it = m_addressChoices.begin(); it != m_addressChoices.end();)
        it = names.contains(it.key()) ? std::next(it) : m_addressChoices.erase(it);
}

void PollCycle::showOnce(bool& open, const QString& text, const QString& title, MessageDialog::Icon icon,
                         const QString& detailedText)
{
    if (open)
        return;
    open = true;
    // Queued: a modal message opened inside a handler would hold that handler half-done while
    // ticks and datagrams go on around it.
    QMetaObject::invokeMethod(
        this,
        [this, &open, text, title, icon, detailedText] {
            m_messages.show(text, title, icon, MessageDialog::Buttons::Ok, MessageDialog::Button::Ok,
                            detailedText);
            open = false;
        },
        Qt::QueuedConnection);
}

} // namespace ostrelle
