#include "app/mainwindow.h"
#include "app/monitor.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverlistmodel.h"
#include "tests/support/localpeers.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/readonlyclock.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

using namespace ostrelle;
using namespace std::chrono;

namespace {

constexpr int WaitMs = 5000;
constexpr int Passes = 5;
constexpr double OneMillisecond = 0.001;
constexpr double TenthOfMillisecond = 0.0001;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// Against a chronyd of the test's own on loopback: it runs on this machine's clock, so the true
// offset is zero and the round trip is a few tens of microseconds. Medians of a few passes, so
// that a moment in which the shared machine does not schedule chronyd is not taken for our error.
class TestExactTiming : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (LocalChronyd::executable().isEmpty())
            QSKIP("chronyd is not installed (Debian package chrony)");
        m_port = NtpResponder().port(); // one free a moment ago
        for (const QString& candidate : QStringLiteral("127.0.0.1 127.12.4.1 127.12.4.2").split(u' ')) {
            QString why;
            m_chronyd = std::make_unique<LocalChronyd>();
            if (m_chronyd->start(candidate, m_port, 3, &why)) {
                m_address = candidate;
                return;
            }
            if (!why.contains(QStringLiteral("Could not open NTP socket")))
                QFAIL(qPrintable(why));
        }
        QSKIP("no loopback address with a free port for chronyd");
    }

    void cleanupTestCase() { m_chronyd.reset(); }

    void shouldTimeReplyByItsArrivalWhileEventLoopIsBusy_data()
    {
        QTest::addColumn<int>("busyMs");
        QTest::newRow("idle event loop") << 0;
        QTest::newRow("event loop busy for 50 ms after the request") << 50;
    }

    void shouldTimeReplyByItsArrivalWhileEventLoopIsBusy()
    {
        QFETCH(int, busyMs);
        ServerListModel servers;
        servers.addServer(m_address);
        NativeUdpChannel channel(m_port, 0);
        ReadOnlyClock clock;
        ScriptedMessageDialog messages;
        PollCycle cycle(channel, clock, messages);
        LinkServerTable(servers, cycle);
        // Connected after the cycle's own slot: the request has left, and the reply arrives while
        // the event loop is held here.
        QObject::connect(&channel, &UdpChannel::ready, [busyMs] { QThread::msleep(busyMs); });
        std::vector<double> lateness;
        // Connected before the cycle's slot: how late the event loop saw the reply.
        QObject::connect(&channel, &UdpChannel::datagramArrived,
                         [&](const QByteArray&, ReceiveTime kernelTime) {
                             QVERIFY(kernelTime.has_value());
                             lateness.push_back(duration<double>(clock.now() - *kernelTime).count());
                         });
        std::vector<double> roundTrips, offsets;
        QObject::connect(&cycle, &PollCycle::serverPolled, [&](const PollStep& step) {
            QVERIFY(step.answered);
            roundTrips.push_back(step.reading.roundTripSeconds);
            offsets.push_back(std::abs(step.reading.offsetSeconds));
        });
        for (int i = 0; i < Passes; ++i) {
            QSignalSpy ended(&cycle, &PollCycle::labelsChanged);
            cycle.pollSoon();
            cycle.tick();
            QVERIFY(ended.wait(WaitMs));
        }
        QCOMPARE(int(offsets.size()), Passes);
        // Read at the time the loop got round to it, the reply would be this late.
        QVERIFY2(median(lateness) >= busyMs * 0.9e-3, qPrintable(QString::number(median(lateness))));
        QVERIFY2(median(roundTrips) < OneMillisecond, qPrintable(QString::number(median(roundTrips))));
        QVERIFY2(median(offsets) < TenthOfMillisecond, qPrintable(QString::number(median(offsets))));
    }

    // The first request leaves while the window is being built and drawn for the first time.
    void shouldTimeFirstPassAfterStartUpAsExactlyAsLaterOnes()
    {
        MemorySettingsBackend backend;
        backend.seed(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt"), QStringLiteral(" 1"));
        backend.seed(QStringLiteral("Settings"), QStringLiteral("NtpServer0001"), m_address);
        NativeUdpChannel channel(m_port, 0);
        ReadOnlyClock clock;
        ScriptedMessageDialog messages;
        std::vector<PollStep> steps;
        MainWindow window(clock, backend, channel, messages);
        QObject::connect(&window.monitor().cycle(), &PollCycle::serverPolled,
                         [&](const PollStep& step) { steps.push_back(step); });
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!steps.empty(), WaitMs);
        const PollStep first = steps.front();
        QVERIFY(first.answered);
        QVERIFY2(first.reading.roundTripSeconds < OneMillisecond,
                 qPrintable(QString::number(first.reading.roundTripSeconds)));
        QVERIFY2(std::abs(first.reading.offsetSeconds) < TenthOfMillisecond,
                 qPrintable(QString::number(first.reading.offsetSeconds)));
        QCOMPARE(clock.setAttempts, 0);
    }

private:
    std::unique_ptr<LocalChronyd> m_chronyd;
    QString m_address;
    quint16 m_port = 0;
};

QTEST_MAIN(TestExactTiming)
#include "test_exacttiming.moc"
