#include "ntp/pollcycle.h"

#include "ntp/ntpreply.h"
#include "platform/clock.h"
#include "platform/messagedialog.h"
#include "platform/udpchannel.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"
#include "timekeeping/clockadjust.h"
#include "timekeeping/ntptime.h"

#include <QMetaObject>
#include <cmath>
#include <optional>

namespace ostrelle {

namespace {

const QString ProgramTitle = QStringLiteral("Brevikon Ostrelle");

// Hands a message on to the real dialog from a queued call. A modal message opened inside a
// handler would hold that handler half-done while ticks and datagrams go on around it.
class QueuedMessageDialog final : public MessageDialog
{
public:
    QueuedMessageDialog(QObject& context, MessageDialog& target) : m_context(context), m_target(target) {}

    Button show(const QString& text, const QString& title, Icon icon, Buttons buttons,
                Button defaultButton) override
    {
        MessageDialog* target = &m_target;
        QMetaObject::invokeMethod(
            &m_context, [=] { target->show(text, title, icon, buttons, defaultButton); },
            Qt::QueuedConnection);
        return defaultButton;
    }

private:
    QObject& m_context;
    MessageDialog& m_target;
};

QByteArray datagramOf(const NtpPacketBytes& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size()));
}

} // namespace

PollCycle::PollCycle(ServerTable& table, const Settings& settings, UdpChannel& channel, Clock& clock,
                     MessageDialog& messages, QObject* parent)
    : QObject(parent), m_table(table), m_settings(settings), m_channel(channel), m_clock(clock),
      m_messages(messages)
{
    connect(&m_channel, &UdpChannel::ready, this, &PollCycle::Winsock1_Connected);
    connect(&m_channel, &UdpChannel::datagramArrived, this, &PollCycle::Winsock1_DataArrival);
    connect(&m_channel, &UdpChannel::errorOccurred, this, &PollCycle::Winsock1_Error);
}

void PollCycle::TimerTimeout_Timer()
{
    --m_pollCountdown;
    if (m_pollCountdown > 0)
        return;
    if (m_awaitingReply && m_pollRow > 0 && m_pollRow < m_table.Rows()) {
        m_table.setTextMatrix(m_pollRow, ServerTable::ColStatus, QStringLiteral("Timedout"));
        m_table.setRowColour(m_pollRow, ServerTable::ColourRed);
    }
    PollNextServer();
}

void PollCycle::PollNextServer()
{
    m_channel.close();
    m_awaitingReply = false;
    m_requestSent = false;
    if (m_table.Rows() < 2) {
        m_pollCountdown = m_settings.NtpPoll;
        return;
    }
    ++m_pollRow;
    if (m_pollRow >= m_table.Rows()) {
        endOfPass();
        return;
    }
    m_table.setTextMatrix(m_pollRow, ServerTable::ColStatus, QStringLiteral("Polling"));
    m_channel.setRemoteHost(m_table.TextMatrix(m_pollRow, ServerTable::ColServer));
    m_pollCountdown = TicksToAnswer;
    m_awaitingReply = true;
    // Last, because the channel may report ready (and so send) before this returns.
    m_channel.connectToRemote();
}

void PollCycle::Winsock1_Connected()
{
    // A late lookup for a step that has already ended, or a second ready for this one.
    if (!m_awaitingReply || m_requestSent)
        return;
    // Stamped only now, so that the time a name lookup took is not counted as network delay.
    m_ntpRequest = BuildNtpRequest(m_clock, m_requestSendTime);
    m_requestSent = true;
    // A failed send is left to the time-out, like a server that does not answer.
    m_channel.send(datagramOf(m_ntpRequest));
}

void PollCycle::Winsock1_DataArrival(const QByteArray& datagram)
{
    if (!m_requestSent || m_pollRow < 1 || m_pollRow >= m_table.Rows())
        return;
    const double T4 = NowNtpSeconds(m_clock);
    const ParsedReply parsed = ParseNtpReply(datagram, m_ntpRequest);
    // Not the answer to this request: its real answer or its time-out may still come.
    if (!parsed.accepted())
        return;

    const ReplyEvaluation result = EvaluateNtpReply(parsed.reply, T4, m_requestSendTime, m_settings);
    const int row = m_pollRow;
    m_table.setTextMatrix(row, ServerTable::ColStatus, result.status);
    m_table.setTextMatrix(row, ServerTable::ColVersion, result.version);
    m_table.setTextMatrix(row, ServerTable::ColStratum, result.stratum);
    m_table.setTextMatrix(row, ServerTable::ColReference, result.reference);
    m_table.setTextMatrix(row, ServerTable::ColReferenceTime, result.referenceTime);
    m_table.setTextMatrix(row, ServerTable::ColRoundTrip, result.roundTrip);
    m_table.setTextMatrix(row, ServerTable::ColOffset, result.offset);
    m_table.setRowColour(row, result.marked ? ServerTable::ColourRed : ServerTable::ColourNormal);

    if (result.candidate) {
        const int stratum = parsed.reply.stratum;
        const bool better =
            m_bestStratum == -1 || stratum < m_bestStratum ||
            (stratum == m_bestStratum && std::abs(result.offsetSeconds) < std::abs(m_bestOffset));
        if (better) {
            m_bestStratum = stratum;
            m_bestOffset = result.offsetSeconds;
            m_bestServer = m_table.TextMatrix(row, ServerTable::ColServer);
            m_candidateRow = row;
        }
    }
    PollNextServer();
}

void PollCycle::Winsock1_Error(const QString& description)
{
    // Queued, so that whatever handler the channel was in finishes before the program ends.
    QMetaObject::invokeMethod(
        this,
        [this, description] {
            m_messages.show(QStringLiteral("Socket Error: ") + description, ProgramTitle,
                            MessageDialog::Icon::Critical, MessageDialog::Buttons::Ok,
                            MessageDialog::Button::Ok);
            emit fatalErrorAcknowledged();
        },
        Qt::QueuedConnection);
}

void PollCycle::serverRowRemoved(int row)
{
    if (row < 1)
        return;
    if (row <= m_pollRow) {
        if (row == m_pollRow)
            abandonRequest();
        // The next step goes on with the server that now sits in the removed row's place.
        --m_pollRow;
    }
    if (row == m_candidateRow)
        forgetCandidate();
    else if (row < m_candidateRow)
        --m_candidateRow;
}

void PollCycle::tableCleared()
{
    abandonRequest();
    m_pollRow = 0;
    forgetCandidate();
}

void PollCycle::endOfPass()
{
    m_pollRow = 0;
    m_pollCountdown = m_settings.NtpPoll;
    const double now = NowNtpSeconds(m_clock);
    if (const std::optional<CalendarTime> calendar = NtpSecondsToDateTime(now, Rounding::Nearest))
        m_labelPoll = DateTimeText(*calendar);
    m_labelSync = QStringLiteral("None");
    m_labelAdjust = QStringLiteral("None");

    const bool haveCandidate = m_bestStratum != -1;
    const QString server = m_bestServer;
    const double offset = m_bestOffset;
    // Reset before anything can reach the operator, so that the next pass starts clean.
    forgetCandidate();

    if (m_settings.SysTimeAdj == 1 && haveCandidate) {
        QueuedMessageDialog afterwards(*this, m_messages);
        if (SetSystemClock(now + offset, m_clock, afterwards)) {
            m_labelSync = server;
            m_labelAdjust = SecondsText(offset) + QStringLiteral(" secs");
        }
    }
    emit labelsChanged();
}

void PollCycle::abandonRequest()
{
    if (!m_awaitingReply)
        return;
    m_channel.close();
    m_awaitingReply = false;
    m_requestSent = false;
}

void PollCycle::forgetCandidate()
{
    m_bestStratum = -1;
    m_candidateRow = 0;
}

} // namespace ostrelle
