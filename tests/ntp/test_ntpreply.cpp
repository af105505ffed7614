#include "ntp/ntpreply.h"
#include "serverreply.h"
#include "servers/settingsstore.h"

#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

// 2006-03-10 15:13:22.125 UTC; every fraction used below is exact in binary.
constexpr double T = 3350992402.125;
// Leap, version, stratum, reference id, reference, receive and transmit time.
const NtpReply Good{0, 4, 1, {'G', 'P', 'S', 0}, T - 16.0, T, T};
const NtpTimestampBytes Nonce{0x9e, 0x37, 0x79, 0xb9, 0x7f, 0x4a, 0x7c, 0x15};

} // namespace

class NtpReplyTest : public QObject
{
    Q_OBJECT

private slots:
    // Short datagrams and our own request reflected back are dropped in the poll cycle's tests.
    void shouldAcceptOnlyTheAnswerToOurRequest_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<ReplyCheck>("expected");

        const ServerReply answer{.originate = Nonce, .receiveTime = T, .transmitTime = T};
        ServerReply zeroOriginate = answer, guessedTime = answer, offByOneBit = answer, broadcast = answer;
        zeroOriginate.originate = {};
        // What a blind sender would guess if requests carried their send time.
        guessedTime.originate = SecondsToNtpTimestamp(T);
        offByOneBit.originate[7] ^= 0x01;
        broadcast.mode = 5;

        QTest::newRow("answer echoing our nonce") << encode(answer) << ReplyCheck::Accepted;
        QTest::newRow("zero originate") << encode(zeroOriginate) << ReplyCheck::StaleOriginate;
        QTest::newRow("originate guessed from the time") << encode(guessedTime) << ReplyCheck::StaleOriginate;
        QTest::newRow("originate off by one bit") << encode(offByOneBit) << ReplyCheck::StaleOriginate;
        QTest::newRow("broadcast mode 5") << encode(broadcast) << ReplyCheck::NotServerMode;
    }

    void shouldAcceptOnlyTheAnswerToOurRequest()
    {
        QFETCH(QByteArray, datagram);
        QTEST(ParseNtpReply(datagram, Nonce).check, "expected");
    }

    void shouldDecodeEveryFieldItReads()
    {
        // Leap, version, mode, stratum, reference id, reference, originate, receive, transmit.
        // clang-format off
        const ServerReply wire{2, 3, NtpModeServer, 255, {'N', 'I', 'S', 'T'}, T - 16.0, Nonce, T + 0.5, T + 0.75};
        // clang-format on
        const NtpReply r = ParseNtpReply(encode(wire), Nonce).reply;
        QCOMPARE(QList<double>({1.0 * r.leap, 1.0 * r.version, 1.0 * r.stratum, r.referenceTime,
                                r.receiveTime, r.transmitTime}),
                 QList<double>({2, 3, 255, T - 16.0, T + 0.5, T + 0.75}));
        QCOMPARE(r.referenceId, wire.referenceId);
    }

    void shouldComputeRoundTripWithoutHoldTimeAndOffset()
    {
        NtpReply reply = Good;
        reply.receiveTime = T + 0.5;
        reply.transmitTime = T + 0.502;
        const ServerReading plain = EvaluateNtpReply(reply, T, T + 0.1, Settings{});
        // Sent just before 2036-02-07 06:28:16, answered after it: the wire starts counting again.
        reply.receiveTime = reply.transmitTime = 0.375;
        const ServerReading rollover = EvaluateNtpReply(reply, NtpEraLength - 0.25, NtpEraLength, Settings{});
        // To the microsecond: present-day NtpSeconds keep about 0.1 us in a double.
        const auto us = [](double seconds) { return qRound64(seconds * 1e6); };
        QCOMPARE(QList<qint64>({us(plain.roundTripSeconds), us(plain.offsetSeconds),
                                us(rollover.roundTripSeconds), us(rollover.offsetSeconds)}),
                 QList<qint64>({98000, 451000, 250000, 500000}));
    }

    void shouldOfferSoundRepliesAndMarkByThresholds_data()
    {
        QTest::addColumn<int>("leap");
        QTest::addColumn<int>("stratum");
        QTest::addColumn<double>("referenceAge"); // T3 - reference time; 0 sends no reference time
        QTest::addColumn<double>("localAhead");   // of the server's clock, in seconds
        QTest::addColumn<QString>("zeroed");      // "T2" or "T3": that timestamp left zero
        QTest::addColumn<bool>("candidate");
        QTest::addColumn<ServerProblems>("problems");

        // Limits: stratum 3, reference age 600 s.
        const auto row = &QTest::newRow;
        // clang-format off
        row("stratum at threshold")  << 0 << 3  << 64.0    << 0.0    << ""   << true << ServerProblems(ServerProblems());
        row("stratum one above")     << 0 << 4  << 64.0    << 0.0    << ""   << true << ServerProblems(ServerProblem::StratumAboveLimit);
        row("stratum 16")            << 0 << 16 << 64.0    << 0.0    << ""   << false << ServerProblems(ServerProblem::StratumAboveLimit | ServerProblem::Unsynchronised);
        row("kiss-o'-death")         << 0 << 0  << 64.0    << 0.0    << ""   << false << ServerProblems(ServerProblem::KissOfDeath);
        row("LI 1")                  << 1 << 1  << 64.0    << 0.0    << ""   << false << ServerProblems(ServerProblem::LeapAnnounced);
        row("LI 3")                  << 3 << 1  << 64.0    << 0.0    << ""   << false << ServerProblems(ServerProblem::Unsynchronised);
        row("zero receive")          << 0 << 1  << 64.0    << 0.0    << "T2" << false << ServerProblems(ServerProblem::NoTimestamps);
        row("zero transmit")         << 0 << 1  << 64.0    << 0.0    << "T3" << false << ServerProblems(ServerProblem::NoTimestamps);
        row("age at threshold")      << 0 << 1  << 600.0   << 0.0    << ""   << true << ServerProblems(ServerProblems());
        row("age 1 ms above")        << 0 << 1  << 600.001 << 0.0    << ""   << true << ServerProblems(ServerProblem::ReferenceTooOld);
        row("no reference time")     << 0 << 1  << 0.0     << 0.0    << ""   << true << ServerProblems(ServerProblem::ReferenceTooOld);
        row("local clock 1 h ahead") << 0 << 1  << 64.0    << 3600.0 << ""   << true << ServerProblems(ServerProblems());
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

        const ServerReading result =
            EvaluateNtpReply(reply, T, T, Settings{.referenceAgeLimitSeconds = 600, .stratumLimit = 3});
        QTEST(result.usableAsSource, "candidate");
        QTEST(result.problems, "problems");
        QCOMPARE(!result.hasTimestamps, !zeroed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(NtpReplyTest)
#include "test_ntpreply.moc"
