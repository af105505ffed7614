#include "ntp/pollcycle.h"

#include "ntp/arrivaltime.h"
#include "ntp/ntpreply.h"
#include "platform/clock.h"
#include "platform/messagedialog.h"
#include "platform/udpchannel.h"
#include "servers/serverformat.h"
#include "servers/serverlistmodel.h"
#include "servers/servername.h"
#include "timekeeping/clockadjust.h"

#include <QMetaObject>
#include <cmath>

namespace ostrelle {

namespace {

QByteArray datagramOf(const NtpPacketBytes& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size()));
}

} // namespace

PollCycle::PollCycle(ServerListModel& servers, UdpChannel& channel, Clock& clock, MessageDialog& messages,
                     QObject* parent)
    : QObject(parent), m_servers(servers), m_channel(channel), m_clock(clock), m_messages(messages)
{
    connect(&m_channel, &UdpChannel::ready, this, &PollCycle::sendRequest);
    connect(&m_channel, &UdpChannel::datagramArrived, this, &PollCycle::processDatagram);
    connect(&m_channel, &UdpChannel::errorOccurred, this, &PollCycle::onChannelError);
    connect(&m_servers, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { serversRemoved(first, last); });
    connect(&m_servers, &QAbstractItemModel::modelReset, this, &PollCycle::serversReset);
    connect(&m_ntsSessions, &NtsSessions::keyExchangeFinished, this, &PollCycle::ntsKeyExchangeFinished);
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
                             reading.offsetSeconds, reading.roundTripSeconds});
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

std::optional<SourceCandidate> PollCycle::chooseClockSource(const QList<SourceCandidate>& candidates)
{
    std::optional<SourceCandidate> best;
    for (const SourceCandidate& c : candidates) {
        if (!best || c.stratum < best->stratum ||
            (c.stratum == best->stratum && std::abs(c.offsetSeconds) < std::abs(best->offsetSeconds)))
            best = c;
    }
    return best;
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

    const std::optional<SourceCandidate> source = chooseClockSource(m_candidates);
    // Reset before anything can reach the operator, so that the next pass starts clean.
    m_candidates.clear();

    if (m_settings.adjustClock && source) {
        if (SetSystemClock(now + source->offsetSeconds, m_clock)) {
            m_synchronisedToText = source->server;
            m_lastAdjustmentText = SecondsText(source->offsetSeconds) + QStringLiteral(" secs");
        } else {
            showOnce(m_clockMessageOpen, QStringLiteral("Unable to set system time."),
                     QStringLiteral("Ostrelle"), MessageDialog::Icon::Warning);
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

void PollCycle::showOnce(bool& open, const QString& text, const QString& title, MessageDialog::Icon icon)
{
    if (open)
        return;
    open = true;
    // Queued: a modal message opened inside a handler would hold that handler half-done while
    // ticks and datagrams go on around it.
    QMetaObject::invokeMethod(
        this,
        [this, &open, text, title, icon] {
            m_messages.show(text, title, icon, MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
            open = false;
        },
        Qt::QueuedConnection);
}

} // namespace ostrelle
