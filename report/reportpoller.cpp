#include "report/reportpoller.h"

#include "ntp/agreement.h"
#include "ntp/nts/ntssessions.h"
#include "ntp/serverexchange.h"
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
    Button show(const QString& text, const QString&, Icon, Buttons, Button defaultButton,
                const QString&) override
    {
        std::fprintf(stderr, "ostrelle: %s\n", qPrintable(text));
        return defaultButton;
    }
};

// One server's poll: its own socket and exchange, ended by an answer, a failure or the time-out,
// whichever comes first.
class ServerProbe final : public QObject
{
public:
    ServerProbe(PollStep& step, const Settings& settings, Clock& clock, NtsSessions& ntsSessions,
                std::chrono::milliseconds timeout, std::function<void()> finished, QObject* parent)
        : QObject(parent), m_step(step), m_channel(123, 0, this),
          m_exchange(m_channel, clock, ntsSessions, this), m_finished(std::move(finished))
    {
        connect(&m_exchange, &ServerExchange::finished, this, [this](const PollStep& step) {
            m_step = step;
            deleteLater();
            m_finished();
        });
        QTimer::singleShot(timeout, &m_exchange, &ServerExchange::timeOut);
        m_exchange.start(step.server, settings, timeout);
    }

private:
    PollStep& m_step;
    NativeUdpChannel m_channel;
    ServerExchange m_exchange;
    std::function<void()> m_finished;
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

// The row of a server that did not answer: why, in the words the window uses.
ReportRow unansweredRow(const PollStep& step, std::chrono::milliseconds waited)
{
    ReportRow row;
    row.server = step.server;
    const ServerProblems why = step.reading.problems;
    if (why.testFlag(ServerProblem::UnpollableName)) {
        row.reasons = {QStringLiteral("Not a name that can be looked up")};
    } else if (why.testFlag(ServerProblem::SocketError)) {
        row.outcome = ReportOutcome::Refused;
        row.refusal = QStringLiteral("Socket Error: ") + step.socketError;
        row.reasons = {row.refusal};
    } else if (why.testFlag(ServerProblem::NtsRefused) && step.nts) {
        row.outcome = ReportOutcome::Refused;
        row.refusal = step.nts->reason;
        row.reasons = {row.refusal};
    } else {
        UnhealthyReasons reasons;
        reasons.noReply = true;
        reasons.replyWait = std::chrono::ceil<std::chrono::seconds>(waited);
        row.reasons = UnhealthyReasonTexts(reasons);
    }
    return row;
}

ReportRow rowOf(const PollStep& step, const Settings& settings, std::chrono::milliseconds waited)
{
    if (!step.answered)
        return unansweredRow(step, waited);
    ReportRow row;
    row.server = step.server;
    const ServerReading& r = step.reading;
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
    row.rootDelay = ReportSeconds(r.rootDelaySeconds);
    row.rootDispersion = ReportSeconds(r.rootDispersionSeconds);
    row.healthy = r.problems == ServerProblems();
    row.reasons = UnhealthyReasonTexts(reasonsOf(r, settings));
    return row;
}

} // namespace

Report JudgeServerPolls(const QList<PollStep>& polls, const Settings& settings, UtcTime passEnd,
                        std::chrono::milliseconds waited)
{
    Report report;
    std::vector<AgreementCandidate> candidates;
    const double passEndNtp = ToNtpSeconds(passEnd);
    for (qsizetype i = 0; i < polls.size(); ++i) {
        const PollStep& poll = polls.at(i);
        report.rows.append(rowOf(poll, settings, waited));
        const ServerReading& r = poll.reading;
        if (!poll.answered || !r.usableAsSource)
            continue;
        candidates.push_back({int(i), r.stratum, AgreementSeconds(r.offsetSeconds),
                              AgreementSeconds(r.roundTripSeconds), AgreementSeconds(r.rootDelaySeconds),
                              AgreementSeconds(r.rootDispersionSeconds), AgreementSeconds(r.precisionSeconds),
                              AgreementSeconds(passEndNtp - r.receivedAt)});
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

    QList<PollStep> polls(servers.size());
    QEventLoop loop;
    QObject probes;
    NtsSessions ntsSessions;
    if (const QString trust = qEnvironmentVariable("OSTRELLE_TEST_NTS_TRUST_FILE"); !trust.isEmpty())
        ntsSessions.setExtraTrustFile(trust);
    qsizetype next = 0;
    int inFlight = 0;
    std::function<void()> startMore = [&] {
        while (inFlight < MaxInFlight && next < servers.size()) {
            const qsizetype i = next++;
            PollStep& poll = polls[i];
            poll.server = servers.at(i);
            if (!ServerExchange::canPoll(poll.server)) {
                poll = ServerExchange::unpollableStep(poll.server, m_clock.now());
                continue;
            }
            ++inFlight;
            new ServerProbe(
                poll, settings, m_clock, ntsSessions, options.timeout,
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
