#include "report/reportpoller.h"

#include "ntp/agreement.h"
#include "ntp/clockfilter.h"
#include "ntp/nts/ntssessions.h"
#include "ntp/passjudgement.h"
#include "ntp/polloutcome.h"
#include "ntp/serverexchange.h"
#include "ntp/unhealthyreason.h"
#include "platform/clock.h"
#include "platform/hostresolver.h"
#include "platform/messagedialog.h"
#include "platform/nativeudpchannel.h"
#include "platform/settingsbackend.h"
#include "servers/serverformat.h"
#include "servers/servername.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntpshort.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTimer>
#include <algorithm>
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

// One server's poll: its own socket and exchange, one sample every spacing until enough have
// answered or the server's time is up. A sample not answered by the next one's turn is given up
// (a lost request is so retried within the time); a kiss-o'-death ends the sampling, as the
// server asked. The clock filter then says what the samples come to.
class ServerProbe final : public QObject
{
public:
    ServerProbe(PollStep& step, const Settings& settings, Clock& clock, NtsSessions& ntsSessions,
                const ReportOptions& options, std::function<void()> finished, QObject* parent)
        : QObject(parent), m_step(step), m_settings(settings), m_options(options), m_clock(clock),
          m_channel(123, 0, this), m_exchange(m_channel, clock, ntsSessions, this),
          m_finished(std::move(finished))
    {
        m_deadline.start();
        connect(&m_exchange, &ServerExchange::finished, this, &ServerProbe::sampleFinished);
        m_nextSample.setSingleShot(true);
        // A coarse timer may fire 5 % early, which the retry spacing below has no room for.
        m_nextSample.setTimerType(Qt::PreciseTimer);
        connect(&m_nextSample, &QTimer::timeout, this, &ServerProbe::takeSample);
        QTimer::singleShot(options.timeout, this, [this] {
            m_exchange.timeOut();
            finish();
        });
        takeSample();
    }

private:
    void takeSample()
    {
        if (m_done)
            return;
        // Unanswered by now: lost on the way, or too late to count.
        m_givingUp = true;
        m_exchange.timeOut();
        m_givingUp = false;
        m_lastRequestAt = m_deadline.elapsed();
        const std::chrono::milliseconds left(m_options.timeout.count() - m_lastRequestAt);
        m_exchange.start(m_step.server, m_settings, left, {m_step.address, AddressChoice::Rule::Exactly});
        ++m_requests;
        scheduleNextSample();
    }

    // Servers that limit their clients' rate count every datagram that reaches them from one
    // address and drop, or answer with a RATE kiss, one that comes sooner than their minimum
    // after the one before (2 s by default). They measure that headway in whole seconds, rounded
    // to the nearest, so anything from 1.5 s on passes. Once a server has answered, it has
    // certainly counted the request, and the next waits the full spacing. Until then every
    // request may have been lost on the way out and never counted; but it may as well have
    // arrived and lost its answer, so even then the retry waits four fifths of the spacing
    // (1.6 s): past the rounding, with a tenth of a second to spare for the path's delay
    // changing between the two. That fits seven requests rather than five into 10 s, which
    // is what a lossy path needs to get one answer through in nearly every run.
    void scheduleNextSample()
    {
        const bool answered =
            std::any_of(m_samples.cbegin(), m_samples.cend(), [](const PollStep& s) { return s.answered; });
        const qint64 spacing =
            answered ? m_options.sampleSpacing.count() : m_options.sampleSpacing.count() * 4 / 5;
        const qint64 next = m_lastRequestAt + spacing;
        // However long the time-out, a server that keeps losing requests is asked a bounded number
        // of times.
        if (m_requests < MaxReportSamples * 2 && next < m_options.timeout.count())
            m_nextSample.start(std::chrono::milliseconds(std::max<qint64>(next - m_deadline.elapsed(), 0)));
        else
            m_nextSample.stop();
    }

    void sampleFinished(const PollStep& sample)
    {
        m_samples.append(sample);
        if (m_givingUp)
            return;
        // A kiss-o'-death, or a poll that failed before any answer (its socket, NTS), will not
        // change with more asking; an answer that was refused for its content might.
        const PollOutcome outcome = PollResultOf(sample).outcome;
        const bool stopAsking =
            outcome == PollOutcome::KissOfDeath || (outcome == PollOutcome::Refused && !sample.answered);
        int answers = 0;
        for (const PollStep& s : std::as_const(m_samples))
            answers += s.answered ? 1 : 0;
        // The first answer lengthens the wait for the next request to the full spacing.
        if (answers == 1 && sample.answered && m_nextSample.isActive())
            scheduleNextSample();
        if (stopAsking || answers >= m_options.samples || !m_nextSample.isActive())
            finish();
    }

    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        m_nextSample.stop();
        if (m_samples.isEmpty())
            m_step.polledAt = m_clock.now();
        else
            m_step = FilteredStep(m_samples, NowNtpSeconds(m_clock));
        m_step.requests = m_requests;
        deleteLater();
        m_finished();
    }

    PollStep& m_step;
    const Settings m_settings;
    const ReportOptions m_options;
    Clock& m_clock;
    NativeUdpChannel m_channel;
    ServerExchange m_exchange;
    std::function<void()> m_finished;
    QElapsedTimer m_deadline;
    QTimer m_nextSample;
    QList<PollStep> m_samples;
    qint64 m_lastRequestAt = 0; // ms into the server's time
    int m_requests = 0;
    bool m_givingUp = false;
    bool m_done = false;
};

ReportTime reportTimeOf(UtcTime time)
{
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(time);
}

ReportRow rowOf(const PollStep& step, std::chrono::milliseconds waited)
{
    ReportRow row;
    row.server = step.server;
    row.requests = step.requests;
    const PollResult result = PollResultOf(step);
    row.outcome = result.outcome;
    if (result.outcome == PollOutcome::Refused || result.outcome == PollOutcome::KissOfDeath)
        row.refusal = result.reason;
    if (!step.answered) {
        if (!result.reason.isEmpty()) {
            row.reasons = {result.reason};
        } else {
            UnhealthyReasons reasons;
            reasons.noReply = true;
            reasons.replyWait = std::chrono::ceil<std::chrono::seconds>(waited);
            row.reasons = UnhealthyReasonTexts(reasons);
        }
        return row;
    }
    const ServerReading& r = step.reading;
    row.leap = r.leap;
    row.version = r.version;
    row.stratum = r.stratum;
    row.referenceId = ReferenceText(r.stratum, r.referenceId);
    if (r.referenceTime != 0.0) {
        if (const std::optional<UtcTime> time = UtcTimeFromNtpSeconds(r.referenceTime))
            row.referenceTime = reportTimeOf(*time);
    }
    row.roundTrip = ReportSeconds(r.roundTripSeconds);
    row.offset = ReportSeconds(r.offsetSeconds);
    row.rootDelay = ReportSeconds(r.rootDelaySeconds);
    row.rootDispersion = ReportSeconds(r.rootDispersionSeconds);
    row.jitter = ReportSeconds(step.jitterSeconds);
    row.samples = step.answers;
    row.healthy = r.problems == ServerProblems();
    row.reasons = UnhealthyReasonTexts(ReasonsOf(r));
    return row;
}

} // namespace

Report JudgeServerPolls(const QList<PollStep>& polls, UtcTime passEnd, std::chrono::milliseconds waited)
{
    Report report;
    const PassJudgement judgement = JudgePass(polls, ToNtpSeconds(passEnd), ClockResolution);
    for (qsizetype i = 0; i < polls.size(); ++i) {
        const PollStep& poll = polls.at(i);
        ReportRow row = rowOf(poll, waited);
        row.address = poll.address.isNull() ? QString() : poll.address.toString();
        if (const CandidateAgreement* judged = judgement.agreementOf(i)) {
            row.verdict = judged->verdict;
            // Too far from any reference to say anything about the time: red, as in the window.
            if (judgement.problemsOf(i).testFlag(ServerProblem::TooDistant))
                row.healthy = false;
            UnhealthyReasons reasons;
            AddAgreementReasons(reasons, *judged, judgement.agreement);
            row.reasons += UnhealthyReasonTexts(reasons);
        }
        report.rows.append(row);
    }
    if (judgement.agreement.why == NoClockSource::NoMajority) {
        report.verdict.agreement = ReportAgreement::NoAgreement;
    } else if (judgement.source) {
        const ReportRow& source = report.rows.at(*judgement.source);
        report.verdict = {source.server, source.address, source.offset, ReportAgreement::Agreed};
    }
    return report;
}

namespace {

// One poll for each address of each plain server's name, all names looked up at once within
// timeout; one poll, by name, for an address literal, an nts:// server (its key exchange is with
// the host the name gives) and a name without an answer in time, which the channel then looks up
// as it always has.
QList<PollStep> PollsOf(const QStringList& servers, HostResolver& resolver, std::chrono::milliseconds timeout)
{
    QHash<QString, QList<QHostAddress>> found;
    int pending = 0;
    QEventLoop loop;
    // Last, so that it goes first: no lookup answers into the variables above once they are gone.
    QObject context;
    for (const QString& server : servers) {
        const std::optional<ServerAddress> address =
            ServerExchange::canPoll(server) ? ParseServerAddress(server) : std::nullopt;
        if (!address || address->isNts() || !QHostAddress(address->host).isNull() ||
            found.contains(address->host))
            continue;
        found.insert(address->host, {});
        ++pending;
        resolver.lookUp(address->host, &context, [&, host = address->host](const HostLookup& lookup) {
            found.insert(host, PollableAddresses(lookup.addresses));
            if (--pending == 0)
                loop.quit();
        });
    }
    if (pending > 0) {
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QList<PollStep> polls;
    for (const QString& server : servers) {
        const std::optional<ServerAddress> address = ParseServerAddress(server);
        const QList<QHostAddress> addresses = address ? found.value(address->host) : QList<QHostAddress>();
        PollStep poll;
        poll.server = server;
        if (addresses.isEmpty())
            polls.append(poll);
        for (const QHostAddress& a : addresses) {
            poll.address = a;
            polls.append(poll);
        }
    }
    return polls;
}

// What the judgement leaves out and the headless outputs show: when each server answered, and
// for an nts:// server what NTS did and the cookies its session has left. Rows follow polls.
void addPollDetails(Report& report, const QList<PollStep>& polls, const NtsSessions& ntsSessions)
{
    for (qsizetype i = 0; i < polls.size() && i < report.rows.size(); ++i) {
        const PollStep& poll = polls.at(i);
        ReportRow& row = report.rows[i];
        if (poll.answered && poll.reading.receivedAt != 0.0) {
            if (const std::optional<UtcTime> time = UtcTimeFromNtpSeconds(poll.reading.receivedAt))
                row.answeredAt = reportTimeOf(*time);
        }
        const std::optional<ServerAddress> address = ParseServerAddress(poll.server);
        if (!address || !address->isNts())
            continue;
        ReportNts nts;
        if (poll.nts) {
            nts.authenticated = poll.nts->authenticated;
            nts.failure = poll.nts->reason;
        }
        if (const NtsSession* session = ntsSessions.find(poll.server))
            nts.cookies = session->cookieCount();
        row.nts = nts;
    }
}

} // namespace

ReportPoller::ReportPoller(Clock& clock, SettingsBackend& store, HostResolver& resolver)
    : m_clock(clock), m_store(store), m_resolver(resolver)
{
    if (const QString trust = qEnvironmentVariable("OSTRELLE_TEST_NTS_TRUST_FILE"); !trust.isEmpty())
        m_ntsSessions.setExtraTrustFile(trust);
}

std::chrono::seconds ReportPoller::storedPollInterval()
{
    m_store.reload();
    StandardErrorMessages messages;
    return std::chrono::seconds(SettingsStore(m_store, messages).loadSettings().settings.pollIntervalSeconds);
}

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

    QList<PollStep> polls = PollsOf(servers, m_resolver, options.timeout);
    QEventLoop loop;
    QObject probes;
    // An exporter's next pass goes on with the keys and cookies of this one: a key exchange per
    // pass would cost the server a TLS handshake a minute for nothing.
    NtsSessions& ntsSessions = m_ntsSessions;
    ntsSessions.retainOnly(servers);
    qsizetype next = 0;
    int inFlight = 0;
    std::function<void()> startMore = [&] {
        while (inFlight < MaxInFlight && next < polls.size()) {
            PollStep& poll = polls[next++];
            if (!ServerExchange::canPoll(poll.server)) {
                poll = ServerExchange::unpollableStep(poll.server, m_clock.now());
                continue;
            }
            ++inFlight;
            new ServerProbe(
                poll, settings, m_clock, ntsSessions, options,
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
    Report report = JudgeServerPolls(polls, m_clock.now(), options.timeout);
    addPollDetails(report, polls, ntsSessions);
    return report;
}

} // namespace ostrelle
