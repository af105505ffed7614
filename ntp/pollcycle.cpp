#include "ntp/pollcycle.h"

#include "ntp/arrivaltime.h"
#include "ntp/ntpreply.h"
#include "ntp/unhealthyreason.h"
#include "platform/clock.h"
#include "platform/directclockstepper.h"
#include "platform/messagedialog.h"
#include "platform/udpchannel.h"
#include "servers/serverformat.h"
#include "servers/serverlistmodel.h"
#include "servers/servername.h"

#include <QMetaObject>
#include <chrono>
#include <utility>
#include <vector>

namespace ostrelle {

namespace {

QByteArray datagramOf(const NtpPacketBytes& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size()));
}

} // namespace

PollCycle::PollCycle(ServerListModel& servers, UdpChannel& channel, Clock& clock, MessageDialog& messages,
                     QObject* parent)
    : QObject(parent), m_servers(servers), m_channel(channel), m_clock(clock), m_messages(messages),
      m_directStepper(std::make_unique<DirectClockStepper>(clock))
{
    setClockStepper(*m_directStepper);
    connect(&m_channel, &UdpChannel::ready, this, &PollCycle::sendRequest);
    connect(&m_channel, &UdpChannel::datagramArrived, this, &PollCycle::processDatagram);
    connect(&m_channel, &UdpChannel::errorOccurred, this, &PollCycle::onChannelError);
    connect(&m_servers, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { serversRemoved(first, last); });
    connect(&m_servers, &QAbstractItemModel::modelReset, this, &PollCycle::serversReset);
    connect(&m_ntsSessions, &NtsSessions::keyExchangeFinished, this, &PollCycle::ntsKeyExchangeFinished);
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
        disconnect(m_stepper, &ClockStepper::finished, this, &PollCycle::stepFinished);
    m_stepper = &stepper;
    m_pendingStep.reset();
    connect(m_stepper, &ClockStepper::finished, this, &PollCycle::stepFinished);
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
    if (m_awaitingReply && m_servers.isRow(m_pollRow))
        timeOut(m_pollRow, {});
    pollNextServer();
}

void PollCycle::pollNextServer()
{
    m_channel.close();
    if (m_nts)
        m_nts->abortKeyExchange();
    m_nts = nullptr;
    m_awaitingReply = false;
    m_requestSent = false;
    if (m_servers.rowCount() == 0) {
        m_countdown = m_settings.pollIntervalSeconds;
        return;
    }
    for (;;) {
        ++m_pollRow;
        if (m_pollRow >= m_servers.rowCount()) {
            endOfPass();
            return;
        }
        m_stepStartedAt = m_clock.now();
        // A blank or over-long name is never looked up: its row times out at once.
        if (CheckServerName(m_servers.record(m_pollRow).name) == ServerNameCheck::Usable)
            break;
        timeOut(m_pollRow, ServerProblem::UnpollableName);
    }
    m_servers.setPolling(m_pollRow);
    m_countdown = TicksToAnswer;
    m_awaitingReply = true;
    if (startNtsStep(m_servers.record(m_pollRow).name))
        return;
    m_channel.setRemoteHost(m_servers.record(m_pollRow).name);
    // Last, because the channel may report ready (and so send) before this returns.
    m_channel.connectToRemote();
}

bool PollCycle::startNtsStep(const QString& name)
{
    m_ntsRefusal.clear();
    m_ntsName = name;
    m_nts = m_ntsSessions.sessionFor(name);
    if (!m_nts)
        return false;
    if (m_nts->needsKeyExchange())
        m_nts->startKeyExchange(std::chrono::seconds(m_countdown));
    else
        connectToNtsServer();
    return true;
}

void PollCycle::ntsKeyExchangeFinished(NtsSession* session, bool ok, const QString& reason)
{
    if (session != m_nts || !m_awaitingReply || !m_servers.isRow(m_pollRow))
        return;
    if (ok) {
        connectToNtsServer();
        return;
    }
    m_ntsRefusal = reason;
    abandonRequest();
    timeOut(m_pollRow, {});
    // Like a socket that could not be made: the next server at the next tick.
    m_countdown = 1;
}

void PollCycle::connectToNtsServer()
{
    m_channel.setRemoteHost(m_nts->ntpAddress(), m_nts->ntpPort());
    m_channel.connectToRemote();
}

void PollCycle::sendRequest()
{
    // A late lookup for a step that has already ended, or a second ready for this one.
    if (!m_awaitingReply || m_requestSent)
        return;
    m_nonce = RandomRequestNonce();
    const NtpPacketBytes request = BuildNtpRequest(m_nonce);
    const QByteArray datagram = m_nts ? m_nts->authenticatedRequest(request) : datagramOf(request);
    if (datagram.isEmpty())
        return;
    m_requestSent = true;
    // The channel reads T1 itself, just before the system call, so that neither the lookup nor
    // building the request counts as network delay. A failed send is left to the time-out, like a
    // server that does not answer.
    UtcTime sentAt;
    m_channel.send(datagram, m_clock, sentAt);
    m_requestSendTime = ToNtpSeconds(sentAt);
}

void PollCycle::processDatagram(const QByteArray& datagram, ReceiveTime kernelTime)
{
    if (!m_requestSent || !m_servers.isRow(m_pollRow))
        return;
    const double T4 = ArrivalNtpSeconds(kernelTime, m_requestSendTime, m_clock);
    if (m_nts) {
        // A refused datagram may be a forgery racing the real answer, which may still come.
        const NtsReplyCheck check = m_nts->verifyReply(datagram);
        if (!check.accepted()) {
            if (m_ntsRefusal.isEmpty())
                m_ntsRefusal = check.reason();
            return;
        }
    }
    const ParsedReply parsed = ParseNtpReply(datagram, m_nonce);
    // Not the answer to this request: its real answer or its time-out may still come.
    if (!parsed.accepted())
        return;

    const ServerReading reading = EvaluateNtpReply(parsed.reply, m_requestSendTime, T4, m_settings);
    if (m_nts) {
        const NtsCertificateInfo certificate = m_nts->certificate();
        m_servers.setNtsStatus(m_pollRow,
                               {true, {}, certificate.subject, certificate.issuer, certificate.expiry});
    }
    m_servers.setAnswered(m_pollRow, reading);
    if (reading.usableAsSource) {
        m_candidates.append({m_pollRow, m_servers.record(m_pollRow).name, reading.stratum,
                             reading.offsetSeconds, reading.roundTripSeconds, reading.rootDelaySeconds,
                             reading.rootDispersionSeconds, reading.precisionSeconds, reading.receivedAt});
    }
    finishStep(true, reading);
    pollNextServer();
}

void PollCycle::onChannelError(const QString& description)
{
    if (m_awaitingReply && m_servers.isRow(m_pollRow)) {
        abandonRequest();
        timeOut(m_pollRow, ServerProblem::SocketError);
        // The next server at the next tick: a shortage of descriptors is often gone by then.
        m_countdown = 1;
    }
    showOnce(m_socketMessageOpen, QStringLiteral("Socket Error: ") + description,
             QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Critical);
}

AgreementResult PollCycle::chooseClockSource(const QList<SourceCandidate>& candidates, double endOfPass,
                                             AgreementSeconds clockResolution)
{
    std::vector<AgreementCandidate> samples;
    samples.reserve(static_cast<std::size_t>(candidates.size()));
    for (const SourceCandidate& c : candidates) {
        samples.push_back({c.row, c.stratum, AgreementSeconds(c.offsetSeconds),
                           AgreementSeconds(c.roundTripSeconds), AgreementSeconds(c.rootDelaySeconds),
                           AgreementSeconds(c.rootDispersionSeconds), AgreementSeconds(c.precisionSeconds),
                           AgreementSeconds(endOfPass - c.receivedAt)});
    }
    return EvaluateAgreement(samples, clockResolution);
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
    const AgreementResult agreement = chooseClockSource(candidates, now, m_clock.resolution());
    markAgreementProblems(candidates, agreement);

    if (m_settings.adjustClock) {
        if (!agreement.chosen) {
            m_synchronisedToToolTip = ClockNotSetText(agreement);
        } else if (m_stepper->busy()) {
            // The operator may still be typing a password for an earlier pass's step.
            m_synchronisedToToolTip = QStringLiteral(
                "Clock not set: an earlier change of the clock is still waiting for an answer");
        } else {
            const SourceCandidate& source = candidates.at(static_cast<qsizetype>(*agreement.chosen));
            m_pendingStep = source;
            // Whole microseconds: the offset carries no finer truth (NtpSeconds as a double resolve
            // about half a microsecond), and the system service takes microseconds. The stepper
            // may answer before step() returns, or in a later pass.
            m_stepper->step(
                std::chrono::round<std::chrono::microseconds>(AgreementSeconds(source.offsetSeconds)));
        }
    }
    emit labelsChanged();
}

void PollCycle::markAgreementProblems(const QList<SourceCandidate>& candidates,
                                      const AgreementResult& agreement)
{
    for (std::size_t i = 0; i < agreement.candidates.size(); ++i) {
        const CandidateAgreement& verdict = agreement.candidates[i];
        const int row = candidates.at(static_cast<qsizetype>(i)).row;
        if (verdict.verdict == AgreementVerdict::Falseticker)
            m_servers.markAgreementProblem(row, ServerProblem::Disagrees, agreement.agreeing,
                                           agreement.counted, 0.0);
        else if (verdict.verdict == AgreementVerdict::TooDistant)
            m_servers.markAgreementProblem(row, ServerProblem::TooDistant, 0, 0,
                                           verdict.rootDistance.count());
    }
}

void PollCycle::stepFinished(bool ok, const QString& reason, bool cancelled)
{
    if (!m_pendingStep)
        return;
    const SourceCandidate source = *std::exchange(m_pendingStep, std::nullopt);
    if (ok) {
        m_synchronisedToText = source.server;
        m_lastAdjustmentText = SecondsText(source.offsetSeconds) + QStringLiteral(" secs");
        m_synchronisedToToolTip.clear();
    } else {
        m_synchronisedToToolTip = ClockRefusedText(reason, cancelled);
        // The operator who declined knows; asking again is for the Options dialog.
        if (!cancelled) {
            showOnce(m_clockMessageOpen, QStringLiteral("Unable to set system time."),
                     QStringLiteral("Ostrelle"), MessageDialog::Icon::Warning, reason);
        }
    }
    emit labelsChanged();
}

void PollCycle::finishStep(bool answered, const ServerReading& reading)
{
    emit serverPolled(PollStep{m_servers.record(m_pollRow).name, m_stepStartedAt, answered, reading});
}

void PollCycle::timeOut(int row, ServerProblems why)
{
    if (m_nts && row == m_pollRow) {
        m_servers.setNtsStatus(row, NtsStatus{false, m_ntsRefusal, {}, {}, {}});
        if (!m_ntsRefusal.isEmpty())
            why |= ServerProblem::NtsRefused;
    }
    m_servers.setTimedOut(row, why);
    finishStep(false, ServerReading{.problems = why});
}

void PollCycle::abandonRequest()
{
    if (!m_awaitingReply)
        return;
    m_channel.close();
    if (m_nts)
        m_nts->abortKeyExchange();
    m_awaitingReply = false;
    m_requestSent = false;
}

void PollCycle::serversRemoved(int first, int last)
{
    dropUnlistedNtsSessions();
    const int count = last - first + 1;
    if (first <= m_pollRow) {
        // The next step goes on with the server that now sits in the removed rows' place.
        if (m_pollRow <= last) {
            abandonRequest();
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

void PollCycle::serversReset()
{
    dropUnlistedNtsSessions();
    abandonRequest();
    m_pollRow = -1;
    m_candidates.clear();
}

void PollCycle::dropUnlistedNtsSessions()
{
    const QStringList names = m_servers.names();
    if (m_nts && !names.contains(m_ntsName)) {
        abandonRequest();
        m_nts = nullptr;
    }
    m_ntsSessions.retainOnly(names);
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
