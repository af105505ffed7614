#include "app/monitor.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "tests/support/localpeers.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/readonlyclock.h"

#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;
constexpr int Stratum = 7;
// Loopback round trips are well under this; anything above it is a fault, not noise.
constexpr double FewMilliseconds = 0.010;
constexpr double OneMillisecond = 0.001;

// ntpdate's reading of the shortest error bound, or an endless bound when it gave none.
NtpdateReading readNtpdate(const QString& address)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    // Never without -q: as root, ntpdate would otherwise step the machine's clock. Waited for in an
    // event loop, so that a responder in this process stamps its reply when the request arrives.
    process.start(NtpdateExecutable(), {"-q", address});
    finished.wait(WaitMs);
    return ParseNtpdateOutput(process.readAllStandardOutput()).value_or(NtpdateReading{0.0, qInf()});
}

// The program without its window: the real start-up, poll cycle, socket and clock (read only), the
// store in memory, and one server added as the operator would; clock setting is off by default.
struct LiveProgram
{
    LiveProgram(const QString& address, quint16 port) : channel(port, 0)
    {
        monitor.start();
        monitor.addServer(address);
        QObject::connect(&monitor.cycle(), &PollCycle::serverPolled,
                         [this](const PollStep& step) { last = step; });
    }

    // One pass, its first step taken by a tick as the window's timer would; false when it did not end.
    [[nodiscard]] bool pass()
    {
        QSignalSpy ended(&monitor.cycle(), &PollCycle::labelsChanged);
        monitor.cycle().pollSoon();
        monitor.cycle().tick();
        return ended.wait(WaitMs);
    }
    QString cell(ServerColumn col) { return ServerCellText(monitor.servers().record(0), col); }

    MemorySettingsBackend backend;
    NativeUdpChannel channel;
    ReadOnlyClock clock;
    ScriptedMessageDialog messages;
    Monitor monitor{clock, backend, channel, messages};
    PollStep last; // the latest finished step
};

} // namespace

class TestChronyE2e : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowHealthyRowAgreeingWithNtpdateWithinOneMillisecond_data()
    {
        QTest::addColumn<bool>("useChronyd");
        QTest::addColumn<bool>("askNtpdate");
        QTest::addColumn<double>("trueOffset");
        // Same machine, same clock: chronyd's true offset is zero. It cannot be made to run ahead; the
        // loopback responder can. ntpdate only asks port 123, which needs root; any other port does not.
        QTest::newRow("local chronyd on a free port") << true << false << 0.0;
        QTest::newRow("local chronyd on port 123, beside ntpdate") << true << true << 0.0;
        QTest::newRow("responder 5 s ahead on port 123, beside ntpdate") << false << true << 5.0;
    }

    void shouldShowHealthyRowAgreeingWithNtpdateWithinOneMillisecond()
    {
        QFETCH(bool, useChronyd);
        QFETCH(bool, askNtpdate);
        QFETCH(double, trueOffset);
        if (useChronyd && LocalChronyd::executable().isEmpty())
            QSKIP("chronyd is not installed (Debian package chrony)");
        if (askNtpdate && NtpdateExecutable().isEmpty())
            QSKIP("ntpdate is not installed (Debian package ntpsec-ntpdate)");
        // The first loopback address where the port is free is taken, so that an NTP server already
        // on 127.0.0.1:123 (or this test in another build) is no obstacle.
        const quint16 port = askNtpdate ? 123 : NtpResponder().port(); // one free a moment ago
        QString address;
        LocalChronyd chronyd;
        std::optional<NtpResponder> responder;
        for (const QString& candidate : QString("127.0.0.1 127.12.3.1 127.12.3.2 127.12.3.3").split(' ')) {
            if (useChronyd) {
                QString why;
                if (!chronyd.start(candidate, port, Stratum, &why)) {
                    // What chronyd logs before it gives up when another socket holds its address and port.
                    if (why.contains("Could not open NTP socket"))
                        continue;
                    QFAIL(qPrintable(why));
                }
            } else if (!responder.emplace(QHostAddress(candidate), port).isListening()) {
                continue;
            }
            address = candidate;
            break;
        }
        if (address.isEmpty())
            QSKIP("no loopback address has the port free here (port 123 needs root)");
        if (responder) {
            responder->fields.stratum = Stratum;
            responder->fields.offset = trueOffset;
            // To the microsecond: its own clock reads whole milliseconds, which would blur a
            // comparison held to one.
            responder->now = [] {
                const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
                return 2208988800.0 + std::chrono::duration<double>(sinceUnixEpoch).count();
            };
        }

        // One reading of either tool can be off by a few milliseconds when the scheduler holds a
        // process between a timestamp and its datagram. So at least 7 are taken, and up to 21 until
        // ntpdate has one whose own error bound is under half a millisecond; the program shows no
        // bound, so its median stands for it, against ntpdate's reading of shortest distance.
        // Without ntpdate, the true offset stands in for its reading.
        LiveProgram program(address, port);
        std::vector<double> offsets, roundTrips;
        std::vector<NtpdateReading> peer;
        const auto best = [&] { return std::ranges::min(peer, {}, &NtpdateReading::errorBound); };
        while (offsets.size() < 7 || (offsets.size() < 21 && best().errorBound > OneMillisecond / 2)) {
            QVERIFY(program.pass());
            QCOMPARE(program.cell(ServerColumn::Status), "OK");
            QCOMPARE(program.cell(ServerColumn::Version), "4");
            QCOMPARE(program.cell(ServerColumn::Stratum), QString::number(Stratum));
            // The step offered the server as the clock source, with the exact offset of this reply.
            QVERIFY(!program.monitor.servers().record(0).unhealthy() && program.last.answered &&
                    program.last.reading.usableAsSource && program.last.server == address);
            offsets.push_back(program.last.reading.offsetSeconds);
            QCOMPARE(SecondsText(offsets.back()), program.cell(ServerColumn::Offset));
            roundTrips.push_back(QLocale().toDouble(program.cell(ServerColumn::RoundTrip)));
            peer.push_back(askNtpdate ? readNtpdate(address) : NtpdateReading{trueOffset, 0.0});
        }
        std::ranges::sort(offsets);
        std::ranges::sort(roundTrips);
        const double offset = offsets[offsets.size() / 2], roundTrip = roundTrips[roundTrips.size() / 2];
        const QString figures = QString::asprintf("program %.6f (round trip %.3f), ntpdate %.6f +/- %.6f",
                                                  offset, roundTrip, best().offset, best().errorBound);
        QVERIFY2(roundTrip <= FewMilliseconds && qAbs(offset - trueOffset) <= OneMillisecond,
                 qPrintable(figures));
        QVERIFY2(best().errorBound <= OneMillisecond && qAbs(offset - best().offset) <= OneMillisecond,
                 qPrintable(figures));
        // Nothing tried to set the clock or asked the operator anything.
        QVERIFY(program.clock.setAttempts == 0 && program.messages.shown.isEmpty());
        QCOMPARE(program.monitor.cycle().synchronisedToText(), "None");
    }
};

QTEST_GUILESS_MAIN(TestChronyE2e)
#include "test_chrony_e2e.moc"
