#include "platform/fakes/fakehostresolver.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/readingclock.h"
#include "report/reportformat.h"
#include "report/reportpoller.h"
#include "servers/settingsstore.h"
#include "tests/support/ntpresponder.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <memory>
#include <vector>

using namespace ostrelle;

namespace {

// Loopback servers, one per letter: h healthy, s silent, k kiss-o'-death RATE, z zero receive
// timestamp, f five seconds ahead of the others, 3 a healthy stratum 3; a, b and c healthy
// stratum 2 servers 1.5 ms, 3 ms and 30 ms ahead, their replies without root delay or dispersion
// as from an appliance on the LAN.
class Servers
{
public:
    explicit Servers(const QString& kinds)
    {
        for (const QChar kind : kinds) {
            auto responder = std::make_unique<NtpResponder>();
            NtpResponder* r = responder.get();
            if (kind == u's')
                r->silent = true;
            if (kind == u'k') {
                r->fields.stratum = 0;
                r->fields.referenceId = {'R', 'A', 'T', 'E'};
            }
            if (kind == u'f')
                r->fields.offset = 5.0;
            if (kind == u'3') {
                r->fields.stratum = 3;
                r->fields.referenceId = {192, 0, 2, 1};
            }
            if (kind == u'a' || kind == u'b' || kind == u'c') {
                r->fields.stratum = 2;
                r->fields.referenceId = {192, 0, 2, 1};
                r->fields.offset = kind == u'a' ? 0.0015 : kind == u'b' ? 0.003 : 0.030;
            }
            if (kind == u'z') {
                // The reply is built when the request arrives, then its receive time is blanked.
                QObject::connect(r, &NtpResponder::requestReceived, r, [r](const QByteArray& request) {
                    QByteArray reply = BuildNtpReply(request, r->fields, NtpResponder::realNow());
                    reply.replace(32, 8, QByteArray(8, '\0'));
                    r->customReply = reply;
                });
            }
            names << QStringLiteral("127.0.0.1:%1").arg(r->port());
            ok = ok && r->isListening();
            m_responders.push_back(std::move(responder));
        }
    }

    QStringList names;
    bool ok = true;

private:
    std::vector<std::unique_ptr<NtpResponder>> m_responders;
};

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runReport(const QStringList& arguments, SettingsBackend& store)
{
    ReadingClock clock;
    ReportPoller poller(clock, store);
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = RunCommandLine(ParseCommandLine(QStringList{"ostrelle"} + arguments), poller, out, err);
    return run;
}

// "outcome [refusal] healthy verdict" of every server in a JSON report.
QStringList rowsOf(const QString& json)
{
    QStringList rows;
    const QJsonArray servers = QJsonDocument::fromJson(json.toUtf8()).object().value("servers").toArray();
    for (const QJsonValue& server : servers) {
        const QJsonObject o = server.toObject();
        const QString refusal = o.value("refusal").toString();
        rows << QStringLiteral("%1%2 %3 %4")
                    .arg(o.value("outcome").toString(), refusal.isEmpty() ? QString() : ' ' + refusal,
                         o.value("healthy").toBool() ? "healthy" : "red", o.value("verdict").toString());
    }
    return rows;
}

} // namespace

class ReportPollerTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldJudgeEachServerAsTheWindowDoes_data();
    void shouldJudgeEachServerAsTheWindowDoes();
    void shouldPollTheStoredListWithItsLimits();
    void shouldKeepAtMost64RequestsInFlight();
    void shouldBelieveTheLeastDelayedSample_data();
    void shouldBelieveTheLeastDelayedSample();
    void shouldPollEachAddressOfAPoolAsItsOwnServer();
};

void ReportPollerTest::shouldJudgeEachServerAsTheWindowDoes_data()
{
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("rows");

    const QString good = QStringLiteral("answered healthy truechimer");
    QTest::newRow("two healthy") << "hh" << QStringList{} << 0 << QStringList{good, good};
    QTest::newRow("one silent") << "hs" << QStringList{} << 1
                                << QStringList{good, "timed out red not judged"};
    QTest::newRow("kiss-o'-death") << "kh" << QStringList{} << 1
                                   << QStringList{"refused RATE red not judged", good};
    // Its offset would be decades: no figure is reported as if measured.
    QTest::newRow("zero receive timestamp")
        << "hz" << QStringList{} << 1
        << QStringList{good, "refused No timestamps in the reply red not judged"};
    QTest::newRow("one of three ahead")
        << "hfh" << QStringList{} << 1 << QStringList{good, "answered red falseticker", good};
    QTest::newRow("LAN servers 1.5 ms apart") << "hab" << QStringList{} << 0 << QStringList{good, good, good};
    QTest::newRow("LAN server 30 ms off")
        << "habc" << QStringList{} << 1 << QStringList{good, good, good, "answered red falseticker"};
    QTest::newRow("two that disagree")
        << "hf" << QStringList{} << 2
        << QStringList{"answered healthy not judged", "answered healthy not judged"};
    QTest::newRow("stratum above the command line's limit")
        << "h3" << QStringList{"--stratum-limit", "2"} << 1 << QStringList{good, "answered red truechimer"};
    QTest::newRow("nobody answers") << "ss" << QStringList{} << 2
                                    << QStringList{"timed out red not judged", "timed out red not judged"};
}

void ReportPollerTest::shouldJudgeEachServerAsTheWindowDoes()
{
    QFETCH(QString, kinds);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QStringList, rows);

    Servers servers(kinds);
    QVERIFY(servers.ok);
    MemorySettingsBackend store;
    const Run run = runReport(
        QStringList{"--report", "--format", "json", "--timeout", "1"} + options + servers.names, store);
    QCOMPARE(rowsOf(run.out), rows);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
}

void ReportPollerTest::shouldPollTheStoredListWithItsLimits()
{
    Servers servers(QStringLiteral("h3"));
    QVERIFY(servers.ok);
    MemorySettingsBackend store;
    ScriptedMessageDialog messages;
    Settings settings;
    settings.stratumLimit = 2;
    QVERIFY(SettingsStore(store, messages).saveSettings(settings, servers.names));

    const Run stored = runReport({"--report", "--format", "json", "--timeout", "1"}, store);
    QCOMPARE(rowsOf(stored.out), (QStringList{"answered healthy truechimer", "answered red truechimer"}));
    QCOMPARE(stored.status, 1);
    // The command line's limit wins over the stored one.
    const Run limited = runReport({"--report", "--stratum-limit", "3", "--timeout", "1"}, store);
    QCOMPARE(limited.status, 0);
}

void ReportPollerTest::shouldKeepAtMost64RequestsInFlight()
{
    NtpResponder silent;
    silent.silent = true;
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    const QStringList names(100, QStringLiteral("127.0.0.1:%1").arg(silent.port()));

    // Halfway through the first time-out the first 64 servers' requests have left, and no later one.
    int sentBeforeFirstTimeOut = -1;
    QTimer::singleShot(1500, &silent, [&] { sentBeforeFirstTimeOut = silent.requestCount(); });
    MemorySettingsBackend store;
    const Run run = runReport(
        QStringList{"--report", "--format", "csv", "--timeout", "3", "--samples", "1"} + names, store);

    QCOMPARE(sentBeforeFirstTimeOut, ReportPoller::MaxInFlight);
    // Each server's lost request is tried once more 1.6 s on, within its 3 s.
    QCOMPARE(silent.requestCount(), 200);
    QCOMPARE(run.out.count(QStringLiteral(",timed out,")), 100);
    QCOMPARE(run.status, 2);
}

// A path that loses or delays some requests' replies: the report keeps sampling within the
// server's time, never closer than the spacing once an answer came and never much closer before,
// and believes what the samples the path disturbed least allow.
void ReportPollerTest::shouldBelieveTheLeastDelayedSample_data()
{
    QTest::addColumn<QString>("path"); // per request: p prompt, d replied 40 ms late, l lost
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("answers");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("jittery");
    QTest::newRow("one prompt among late ones") << "ddpd" << 4 << 4 << 4 << true;
    QTest::newRow("lost requests retried") << "lplp" << 2 << 2 << 4 << false;
    QTest::newRow("duplicated replies count once") << "PP" << 2 << 2 << 2 << false;
    QTest::newRow("a single sample") << "d" << 1 << 1 << 1 << false;
    // Retried every 120 ms for 1.25 s: more than the nine that the full spacing would allow.
    QTest::newRow("every request lost") << "lllllllllll" << 4 << 0 << -10 << false;
}

void ReportPollerTest::shouldBelieveTheLeastDelayedSample()
{
    QFETCH(QString, path);
    QFETCH(int, samples);
    QFETCH(int, answers);
    QFETCH(int, requests);
    QFETCH(bool, jittery);
    constexpr double Late = 0.040;
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    responder.silent = true;
    int request = 0;
    QElapsedTimer sinceStart;
    sinceStart.start();
    qint64 previousArrival = -1;
    bool replied = false;
    QStringList tooSoon;
    connect(&responder, &NtpResponder::requestReceived, &responder, [&](const QByteArray& datagram) {
        // Loopback and one event loop, on a busy machine or under Wine: 25 ms for an arrival seen
        // late and the next one seen on time. Asking without the spacing would be far quicker.
        const qint64 arrival = sinceStart.elapsed();
        if (previousArrival >= 0 && arrival - previousArrival < (replied ? 150 : 120) - 25)
            tooSoon << QStringLiteral("request %1 after %2 ms").arg(request).arg(arrival - previousArrival);
        previousArrival = arrival;
        const QChar kind = path.at(std::min<qsizetype>(request++, path.size() - 1));
        replied = replied || kind != u'l';
        // Stamped on arrival, sent late: the return path alone took the extra time.
        const QByteArray reply = BuildNtpReply(datagram, responder.fields, NtpResponder::realNow());
        const QHostAddress peer = responder.lastPeerAddress();
        const quint16 port = responder.lastPeerPort();
        if (kind == u'p' || kind == u'P')
            responder.sendTo(reply, peer, port);
        if (kind == u'P')
            responder.sendTo(reply, peer, port);
        if (kind == u'd')
            QTimer::singleShot(int(Late * 1000), &responder,
                               [&responder, reply, peer, port] { responder.sendTo(reply, peer, port); });
    });

    ReadingClock clock;
    MemorySettingsBackend store;
    ReportPoller poller(clock, store);
    ReportOptions options;
    options.samples = samples;
    options.sampleSpacing = std::chrono::milliseconds(150);
    options.timeout = std::chrono::milliseconds(1250);
    options.servers = {QStringLiteral("127.0.0.1:%1").arg(responder.port())};
    const Report report = poller.collect(options);

    QVERIFY2(tooSoon.isEmpty(), qPrintable(tooSoon.join(u", ")));
    QCOMPARE(report.rows.size(), 1);
    const ReportRow& row = report.rows.first();
    QCOMPARE(row.samples, answers);
    if (requests < 0)
        QVERIFY2(row.requests >= -requests, qPrintable(QString::number(row.requests)));
    else
        QCOMPARE(row.requests, requests);
    QCOMPARE(row.outcome, answers > 0 ? PollOutcome::Answered : PollOutcome::TimedOut);
    if (answers == 0)
        return;
    const bool anyPrompt = path.contains(u'p') || path.contains(u'P');
    // A late reply reads about half its lateness (20 ms) behind; the prompt one reads true, give
    // or take what a busy machine adds to a loopback round trip.
    QVERIFY2(std::abs(row.offset.count()) < (anyPrompt ? Late / 4 : Late),
             qPrintable(QString::number(row.offset.count())));
    QVERIFY2(jittery ? row.jitter.count() > Late / 4 : row.jitter.count() < Late / 4,
             qPrintable(QString::number(row.jitter.count())));
}

// A name of an IPv4 and an IPv6 address is two servers, each judged on its own: here the IPv6 one
// runs five seconds ahead of the IPv4 one and of an address-literal server beside them.
void ReportPollerTest::shouldPollEachAddressOfAPoolAsItsOwnServer()
{
    // The pool's IPv4 server on 127.0.0.1 too, on a port of its own: Wine binds a datagram socket
    // asked for 127.0.0.2 to every address and answers from 127.0.0.1, which a connected socket drops.
    NtpResponder literal;
    NtpResponder ipv4;
    NtpResponder ipv6(QHostAddress(QHostAddress::LocalHostIPv6), ipv4.port());
    ipv6.fields.offset = 5.0;
    for (const NtpResponder* r : {&literal, &ipv4, &ipv6})
        QVERIFY2(r->isListening(), qPrintable(r->errorString()));
    FakeHostResolver resolver;
    resolver.add(QStringLiteral("pool.test"), {ipv4.address(), ipv6.address(), ipv4.address()});

    ReadingClock clock;
    MemorySettingsBackend store;
    ReportPoller poller(clock, store, resolver);
    ReportOptions options;
    options.samples = 1;
    options.timeout = std::chrono::seconds(1);
    const QString pool = QStringLiteral("pool.test:%1").arg(ipv4.port());
    const QString plain = QStringLiteral("127.0.0.1:%1").arg(literal.port());
    options.servers = {pool, plain};
    const Report report = poller.collect(options);

    QStringList rows;
    for (const ReportRow& row : report.rows)
        rows << QStringLiteral("%1 [%2] %3").arg(row.server, row.address).arg(int(row.verdict));
    const auto truechimer = int(AgreementVerdict::Truechimer);
    QCOMPARE(rows,
             (QStringList{QStringLiteral("%1 [127.0.0.1] %2").arg(pool).arg(truechimer),
                          QStringLiteral("%1 [::1] %2").arg(pool).arg(int(AgreementVerdict::Falseticker)),
                          QStringLiteral("%1 [] %2").arg(plain).arg(truechimer)}));
    QCOMPARE(ipv4.requestCount() + ipv6.requestCount() + literal.requestCount(), 3);

    // Every format names the address beside the name, and leaves the literal as it was.
    const QStringList csv = FormatReport(report, ReportFormat::Csv).split(QStringLiteral("\r\n"));
    QCOMPARE(csv.value(0).section(',', -4, -4), QStringLiteral("address"));
    QCOMPARE(csv.value(2).section(',', -4, -4), QStringLiteral("::1"));
    QVERIFY(csv.value(3).section(',', -4, -4).isEmpty());
    QVERIFY(FormatReport(report, ReportFormat::Text).contains(pool + QStringLiteral(" (::1), unhealthy")));
    QVERIFY(FormatReport(report, ReportFormat::Prometheus)
                .contains(QStringLiteral("ostrelle_server_up{server=\"%1\",address=\"::1\"} 1").arg(pool)));
    const QJsonArray json = QJsonDocument::fromJson(FormatReport(report, ReportFormat::Json).toUtf8())
                                .object()
                                .value("servers")
                                .toArray();
    QCOMPARE(json.at(1).toObject().value("address").toString(), QStringLiteral("::1"));
    QVERIFY(json.at(2).toObject().value("address").isNull());
}

QTEST_GUILESS_MAIN(ReportPollerTest)
#include "test_reportpoller.moc"
