#include "report/reportpoller.h"

#include "ntp/agreement.h"
#include "ntp/ntpreply.h"
#include "ntp/unhealthyreason.h"
#include "platform/clock.h"
#include "platform/messagedialog.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverformat.h"
#include "servers/servername.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntpshort.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace ostrelle {

namespace {

// The report reads the clock and the kernel's receive stamps to the nanosecond; reading them costs
// around a microsecond, the finest an offset is known.
constexpr AgreementSeconds ClockResolution{1e-6};

// Loading the settings never asks the operator anything; were it ever to, a report has no one
// to ask, and standard error is where its messages belong.
class StandardErrorMessages final : public MessageDialog
{
public:
    Button show(const QString& text, const QString&, Icon, Buttons, Button defaultButton) override
    {
        std::fprintf(stderr, "ostrelle: %s\n", qPrintable(text));
        return defaultButton;
    }
};

// One server's request: its own socket and nonce, finished by an answer, a socket error or the
// time-out, whichever comes first.
class ServerProbe final : public QObject
{
public:
    ServerProbe(ServerPoll& poll, const ServerAddress& address, const Settings& settings, Clock& clock,
                std::chrono::milliseconds timeout, std::function<void()> finished, QObject* parent)
        : QObject(parent), m_settings(settings), m_poll(poll), m_clock(clock),
          m_channel(address.port, 0, this), m_finished(std::move(finished))
    {
        connect(&m_channel, &UdpChannel::ready, this, &ServerProbe::sendRequest);
        connect(&m_channel, &UdpChannel::datagramArrived, this, &ServerProbe::processDatagram);
        connect(&m_channel, &UdpChannel::errorOccurred, this, [this](const QString& description) {
            m_poll.socketError = description;
            finish(ServerPoll::Ending::SocketError);
        });
        QTimer::singleShot(timeout, this, [this] { finish(ServerPoll::Ending::TimedOut); });
        m_channel.setRemoteHost(address.host);
        m_channel.connectToRemote();
    }

private:
    void sendRequest()
    {
        if (m_requestSent || m_done)
            return;
        m_nonce = RandomRequestNonce();
        const NtpPacketBytes request = BuildNtpRequest(m_nonce);
        m_requestSent = true;
        // The channel reads T1 just before the system call, so that neither the lookup nor building
        // the request counts as network delay. A failed send is left to the time-out.
        UtcTime sentAt;
        m_channel.send(QByteArray(reinterpret_cast<const char*>(request.data()), qsizetype(request.size())),
                       m_clock, sentAt);
        m_requestSendTime = ToNtpSeconds(sentAt);
    }

    void processDatagram(const QByteArray& datagram, ReceiveTime kernelTime)
    {
        if (!m_requestSent || m_done)
            return;
        // The kernel's stamp keeps the reply's time true while 63 other sockets wait their turn.
        const UtcTime arrived = kernelTime ? *kernelTime : m_clock.now();
        const ParsedReply parsed = ParseNtpReply(datagram, m_nonce);
        // Not the answer to this request: its real answer or its time-out may still come.
        if (!parsed.accepted())
            return;
        m_poll.reading = EvaluateNtpReply(parsed.reply, m_requestSendTime, ToNtpSeconds(arrived), m_settings);
        NtpWirePacket packet;
        std::memcpy(&packet, datagram.constData(), sizeof packet);
        m_poll.rootDelaySeconds = NtpShortSignedSeconds(packet.rootDelay);
        m_poll.rootDispersionSeconds = NtpShortUnsignedSeconds(packet.rootDispersion);
        m_poll.precisionSeconds = NtpPrecisionSeconds(packet.precision);
        m_poll.arrivedAt = arrived;
        finish(ServerPoll::Ending::Answered);
    }

    void finish(ServerPoll::Ending ending)
    {
        if (m_done)
            return;
        m_done = true;
        m_poll.ending = ending;
        m_channel.close();
        deleteLater();
        m_finished();
    }

    const Settings m_settings;
    ServerPoll& m_poll;
    Clock& m_clock;
    NativeUdpChannel m_channel;
    std::function<void()> m_finished;
    NtpTimestampBytes m_nonce{};
    double m_requestSendTime = 0.0;
    bool m_requestSent = false;
    bool m_done = false;
};

ReportTime reportTimeOf(UtcTime time)
{
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(time);
}

// The reference identifier as text: the code of a stratum 0 or 1 server, the upstream server's
// IPv4 address otherwise.
QString referenceIdText(const ServerReading& reading)
{
    if (reading.stratum <= 1)
        return ReferenceIdText(reading.referenceId);
    const auto& id = reading.referenceId;
    return QHostAddress(quint32(id[0]) << 24 | quint32(id[1]) << 16 | quint32(id[2]) << 8 | id[3]).toString();
}

UnhealthyReasons reasonsOf(const ServerReading& reading, const Settings& settings)
{
    const ServerProblems problems = reading.problems;
    UnhealthyReasons reasons;
    if (problems & (ServerProblem::LeapAnnounced | ServerProblem::Unsynchronised))
        reasons.leapIndicator = reading.leap;
    reasons.stratumAboveLimit = problems.testFlag(ServerProblem::StratumAboveLimit);
    reasons.stratum = reading.stratum;
    reasons.stratumLimit = settings.stratumLimit;
    if (problems.testFlag(ServerProblem::ReferenceTooOld)) {
        reasons.referenceTimeMissing = reading.referenceTime == 0.0;
        reasons.referenceTimeTooOld = !reasons.referenceTimeMissing;
    }
    reasons.referenceAge = std::chrono::seconds(std::llround(std::floor(reading.referenceAgeSeconds)));
    reasons.referenceAgeLimit = std::chrono::seconds(settings.referenceAgeLimitSeconds);
    reasons.kissOfDeath = problems.testFlag(ServerProblem::KissOfDeath);
    reasons.kissCode = ReferenceIdText(reading.referenceId);
    reasons.noTimestamps = problems.testFlag(ServerProblem::NoTimestamps);
    return reasons;
}

ReportRow rowOf(const ServerPoll& poll, const Settings& settings, std::chrono::milliseconds waited)
{
    ReportRow row;
    row.server = poll.server;
    switch (poll.ending) {
    case ServerPoll::Ending::TimedOut: {
        UnhealthyReasons reasons;
        reasons.noReply = true;
        reasons.replyWait = std::chrono::ceil<std::chrono::seconds>(waited);
        row.reasons = UnhealthyReasonTexts(reasons);
        return row;
    }
    case ServerPoll::Ending::UnpollableName:
        row.reasons = {QStringLiteral("Not a name that can be looked up")};
        return row;
    case ServerPoll::Ending::SocketError:
        row.outcome = ReportOutcome::Refused;
        row.refusal = QStringLiteral("Socket Error: ") + poll.socketError;
        row.reasons = {row.refusal};
        return row;
    case ServerPoll::Ending::Answered:
        break;
    }
    const ServerReading& r = poll.reading;
    const bool kissed = r.problems.testFlag(ServerProblem::KissOfDeath);
    row.outcome = kissed ? ReportOutcome::Refused : ReportOutcome::Answered;
    row.refusal = kissed ? ReferenceIdText(r.referenceId) : QString();
    row.leap = r.leap;
    row.version = r.version;
    row.stratum = r.stratum;
    row.referenceId = referenceIdText(r);
    if (r.referenceTime != 0.0) {
        if (const std::optional<UtcTime> time = UtcTimeFromNtpSeconds(r.referenceTime))
            row.referenceTime = reportTimeOf(*time);
    }
    row.roundTrip = ReportSeconds(r.roundTripSeconds);
    row.offset = ReportSeconds(r.offsetSeconds);
    row.rootDelay = ReportSeconds(poll.rootDelaySeconds);
    row.rootDispersion = ReportSeconds(poll.rootDispersionSeconds);
    row.healthy = r.problems == ServerProblems();
    row.reasons = UnhealthyReasonTexts(reasonsOf(r, settings));
    return row;
}

} // namespace

Report JudgeServerPolls(const QList<ServerPoll>& polls, const Settings& settings, UtcTime passEnd,
                        std::chrono::milliseconds waited)
{
    Report report;
    std::vector<AgreementCandidate> candidates;
    for (qsizetype i = 0; i < polls.size(); ++i) {
        const ServerPoll& poll = polls.at(i);
        report.rows.append(rowOf(poll, settings, waited));
        const ServerReading& r = poll.reading;
        if (poll.ending != ServerPoll::Ending::Answered || !r.usableAsSource)
            continue;
        candidates.push_back(
            {int(i), r.stratum, AgreementSeconds(r.offsetSeconds), AgreementSeconds(r.roundTripSeconds),
             AgreementSeconds(poll.rootDelaySeconds), AgreementSeconds(poll.rootDispersionSeconds),
             AgreementSeconds(poll.precisionSeconds), AgreementSeconds(passEnd - poll.arrivedAt)});
    }
    if (candidates.empty())
        return report;

    const AgreementResult agreement = EvaluateAgreement(candidates, ClockResolution);
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        const CandidateAgreement& judged = agreement.candidates[c];
        ReportRow& row = report.rows[candidates[c].row];
        if (judged.verdict == AgreementVerdict::Truechimer)
            row.verdict = RowVerdict::Truechimer;
        else if (judged.verdict == AgreementVerdict::Falseticker)
            row.verdict = RowVerdict::Falseticker;
        // Too far from any reference to say anything about the time: red, as in the window.
        if (judged.verdict == AgreementVerdict::TooDistant)
            row.healthy = false;
        UnhealthyReasons reasons;
        AddAgreementReasons(reasons, judged, agreement);
        row.reasons += UnhealthyReasonTexts(reasons);
    }
    if (agreement.why == NoClockSource::NoMajority) {
        report.verdict.agreement = ReportAgreement::NoAgreement;
    } else if (agreement.chosen) {
        const AgreementCandidate& best = candidates[*agreement.chosen];
        report.verdict = {polls.at(best.row).server, ReportSeconds(best.offset.count()),
                          ReportAgreement::Agreed};
    }
    return report;
}

ReportPoller::ReportPoller(Clock& clock, SettingsBackend& store) : m_clock(clock), m_store(store) {}

Report ReportPoller::collect(const ReportOptions& options)
{
    StandardErrorMessages messages;
    const StoredState stored = SettingsStore(m_store, messages).loadSettings();
    Settings settings = stored.settings;
    if (options.stratumLimit)
        settings.stratumLimit = *options.stratumLimit;
    if (options.referenceAgeLimit)
        settings.referenceAgeLimitSeconds = int(std::chrono::seconds(*options.referenceAgeLimit).count());
    const QStringList servers = options.servers.isEmpty() ? stored.servers : options.servers;

    QList<ServerPoll> polls(servers.size());
    QEventLoop loop;
    QObject probes;
    qsizetype next = 0;
    int inFlight = 0;
    std::function<void()> startMore = [&] {
        while (inFlight < MaxInFlight && next < servers.size()) {
            const qsizetype i = next++;
            ServerPoll& poll = polls[i];
            poll.server = servers.at(i);
            const std::optional<ServerAddress> address = SplitServerAddress(poll.server);
            if (CheckServerName(poll.server) != ServerNameCheck::Usable || !address) {
                poll.ending = ServerPoll::Ending::UnpollableName;
                continue;
            }
            ++inFlight;
            new ServerProbe(
                poll, *address, settings, m_clock, options.timeout,
                [&] {
                    --inFlight;
                    // From the event loop: this runs inside the probe's own handler.
                    QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
                },
                &probes);
        }
        if (inFlight == 0)
            loop.quit();
    };
    QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
    loop.exec();
    return JudgeServerPolls(polls, settings, m_clock.now(), options.timeout);
}

} // namespace ostrelle
