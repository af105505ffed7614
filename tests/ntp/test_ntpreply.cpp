#include "ntp/ntpreply.h"
#include "platform/fakes/fakeclock.h"
#include "serverreply.h"
#include "servers/settingsstore.h"

#include <QLocale>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

// 2006-03-10 15:13:22.125 UTC; every fraction used below is exact in binary.
constexpr double T = 3350992402.125;
// Leap, version, stratum, reference id, reference, originate, receive and transmit time.
const NtpReply Good{0, 4, 1, {'G', 'P', 'S', 0}, T - 16.0, T, T, T};

NtpPacketBytes ourRequest()
{
    const FakeClock clock;
    double sendTime = 0.0;
    return BuildNtpRequest(clock, sendTime);
}

} // namespace

class NtpReplyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void shouldAcceptOnlyTheAnswerToOurRequest_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<ReplyCheck>("expected");

        const NtpPacketBytes sent = ourRequest();
        const QByteArray request(reinterpret_cast<const char*>(sent.data()), NtpPacketSize);
        const ServerReply answer{.originate = transmitOf(request), .receiveTime = T, .transmitTime = T};
        ServerReply zeroOriginate = answer, offByOneStep = answer, broadcast = answer;
        zeroOriginate.originate = {};
        offByOneStep.originate[7] ^= 0x01;
        broadcast.mode = 5;

        QTest::newRow("answer echoing our transmit") << encode(answer) << ReplyCheck::Accepted;
        QTest::newRow("answer with zero originate") << encode(zeroOriginate) << ReplyCheck::Accepted;
        QTest::newRow("no octets") << QByteArray() << ReplyCheck::TooShort;
        QTest::newRow("47 octets") << encode(answer).left(47) << ReplyCheck::TooShort;
        QTest::newRow("our request reflected back") << request << ReplyCheck::NotServerMode;
        QTest::newRow("broadcast mode 5") << encode(broadcast) << ReplyCheck::NotServerMode;
        QTest::newRow("originate off by 2^-32 s") << encode(offByOneStep) << ReplyCheck::StaleOriginate;
    }

    void shouldAcceptOnlyTheAnswerToOurRequest()
    {
        QFETCH(QByteArray, datagram);
        QTEST(ParseNtpReply(datagram, ourRequest()).check, "expected");
    }

    void shouldDecodeEveryFieldItReads()
    {
        // Leap, version, mode, stratum, reference id, reference, originate, receive, transmit.
        // clang-format off
        const ServerReply wire{2, 3, NtpModeServer, 255, {'N', 'I', 'S', 'T'}, T - 16.0, {}, T + 0.5, T + 0.75};
        // clang-format on
        const NtpReply r = ParseNtpReply(encode(wire), NtpPacketBytes{}).reply;
        QCOMPARE(QList<double>({1.0 * r.leap, 1.0 * r.version, 1.0 * r.stratum, r.referenceTime,
                                r.originateTime, r.receiveTime, r.transmitTime}),
                 QList<double>({2, 3, 255, T - 16.0, 0.0, T + 0.5, T + 0.75}));
        QCOMPARE(r.referenceId, wire.referenceId);
    }

    void shouldComputeRoundTripWithoutHoldTimeAndOffset()
    {
        NtpReply reply = Good;
        reply.receiveTime = T + 0.5;
        reply.transmitTime = T + 0.502;
        // T1 is the echoed originate; our own send time stands in only where the server left it zero.
        const ReplyEvaluation echoed = EvaluateNtpReply(reply, T + 0.1, T - 5.0, Settings{});
        reply.originateTime = 0.0;
        const ReplyEvaluation unechoed = EvaluateNtpReply(reply, T + 0.1, T, Settings{});
        // Sent just before 2036-02-07 06:28:16, answered after it: the wire starts counting again.
        reply.originateTime = NtpEraLength - 0.25;
        reply.receiveTime = reply.transmitTime = 0.375;
        const ReplyEvaluation rollover = EvaluateNtpReply(reply, NtpEraLength, 0.0, Settings{});
        QCOMPARE(QStringList({echoed.roundTrip, echoed.offset, unechoed.roundTrip, unechoed.offset,
                              rollover.roundTrip, rollover.offset}),
                 QStringList({"0.098", "0.451", "0.098", "0.451", "0.250", "0.500"}));
    }

    void shouldShowStatusReferenceIdentifierAndTime()
    {
        QCOMPARE(QStringList({LeapStatusText(0), LeapStatusText(1), LeapStatusText(2), LeapStatusText(3)}),
                 QStringList({"OK", "LEAP", "LEAP", "NO SYNC"}));
        QCOMPARE(ReferenceIdText({'G', 'O', 'O', 'G'}), "GOOG");
        QCOMPARE(ReferenceIdText({'D', 'K', 0, 0}), "DK");
        QCOMPARE(ReferenceIdText({'A', 0, 'B', 0}), "A?B");
        QCOMPARE(ReferenceIdText({' ', '~', 0x1f, 0x7f}), " ~??");

        NtpReply reply = Good;
        const auto shownTime = [&reply](double referenceTime, double T4) {
            reply.referenceTime = referenceTime;
            return EvaluateNtpReply(reply, T4, T, Settings{}).referenceTime;
        };
        QCOMPARE(shownTime(T - 60.5, T), "10/03/2006 15:12:22");
        QCOMPARE(shownTime(0.0, T), "-");
        const double in2040 = 4431110400.0 + 3723.25; // 2040-06-01 01:02:03.25
        QCOMPARE(shownTime(in2040 - NtpEraLength, in2040 + 1.0), "01/06/2040 01:02:03");
    }

    void shouldOfferSoundRepliesAndMarkByThresholds_data()
    {
        QTest::addColumn<int>("leap");
        QTest::addColumn<int>("stratum");
        QTest::addColumn<double>("referenceAge"); // T3 - reference time; 0 sends no reference time
        QTest::addColumn<double>("localAhead");   // of the server's clock, in seconds
        QTest::addColumn<QString>("zeroed");      // "T2" or "T3": that timestamp left zero
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("candidate");
        QTest::addColumn<bool>("marked");

        // Thresholds: StratumHighlight 3, RefTimeHighlight 600.
        const auto row = &QTest::newRow;
        // clang-format off
        row("stratum at threshold")  << 0 << 3  << 64.0    << 0.0    << ""   << "-"   << true  << false;
        row("stratum one above")     << 0 << 4  << 64.0    << 0.0    << ""   << "-"   << true  << true;
        row("stratum 15")            << 0 << 15 << 64.0    << 0.0    << ""   << "-"   << true  << true;
        row("stratum 16")            << 0 << 16 << 64.0    << 0.0    << ""   << "-"   << false << true;
        row("kiss-o'-death")         << 0 << 0  << 64.0    << 0.0    << ""   << "GPS" << false << true;
        row("LI 1")                  << 1 << 1  << 64.0    << 0.0    << ""   << "GPS" << false << true;
        row("LI 3")                  << 3 << 1  << 64.0    << 0.0    << ""   << "GPS" << false << true;
        row("zero receive")          << 0 << 1  << 64.0    << 0.0    << "T2" << "GPS" << false << true;
        row("zero transmit")         << 0 << 1  << 64.0    << 0.0    << "T3" << "GPS" << false << true;
        row("age at threshold")      << 0 << 1  << 600.0   << 0.0    << ""   << "GPS" << true  << false;
        row("age 1 ms above")        << 0 << 1  << 600.001 << 0.0    << ""   << "GPS" << true  << true;
        row("no reference time")     << 0 << 1  << 0.0     << 0.0    << ""   << "GPS" << true  << true;
        row("local clock 1 h ahead") << 0 << 1  << 64.0    << 3600.0 << ""   << "GPS" << true  << false;
        // clang-format on
    }

    void shouldOfferSoundRepliesAndMarkByThresholds()
    {
        QFETCH(int, leap);
        QFETCH(int, stratum);
        QFETCH(double, referenceAge);
        QFETCH(double, localAhead);
        QFETCH(QString, zeroed);
        NtpReply reply = Good;
        reply.leap = leap;
        reply.stratum = stratum;
        reply.receiveTime = zeroed == "T2" ? 0.0 : T - localAhead;
        reply.transmitTime = zeroed == "T3" ? 0.0 : T - localAhead;
        reply.referenceTime = referenceAge == 0.0 ? 0.0 : T - localAhead - referenceAge;

        const ReplyEvaluation result =
            EvaluateNtpReply(reply, T, T, Settings{.RefTimeHighlight = 600, .StratumHighlight = 3});
        QTEST(result.reference, "reference");
        QTEST(result.candidate, "candidate");
        QTEST(result.marked, "marked");
        QCOMPARE(result.offset == "-" && result.roundTrip == "-", !zeroed.isEmpty());
    }

    void shouldFormatSecondsWithThreeDecimalsAndNoNegativeZero()
    {
        QCOMPARE(SecondsText(-0.0), "0.000");
        QCOMPARE(SecondsText(-0.0004), "0.000");
        QCOMPARE(SecondsText(-0.0006), "-0.001");
        QCOMPARE(SecondsText(1234.5678), "1234.568");
        QLocale::setDefault(QLocale(QLocale::German));
        const QString german = SecondsText(-1234.5);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QCOMPARE(german, "-1234,500");
    }
};

QTEST_GUILESS_MAIN(NtpReplyTest)
#include "test_ntpreply.moc"
