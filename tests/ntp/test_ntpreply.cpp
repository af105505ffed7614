#include "ntp/ntpreply.h"
#include "platform/fakes/fakeclock.h"
#include "serverreply.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

Q_DECLARE_METATYPE(ostrelle::ReplyCheck)

namespace {

// 2006-03-10 15:13:22.125 UTC; every fraction used below is exact in binary.
constexpr double T = 3350992402.125;

using RefId = std::array<std::uint8_t, 4>;

NtpReply goodReply()
{
    NtpReply reply;
    reply.version = 4;
    reply.stratum = 1;
    reply.referenceId = {'G', 'P', 'S', 0};
    reply.referenceTime = T - 16.0;
    reply.originateTime = T;
    reply.receiveTime = T + 0.0625;
    reply.transmitTime = T + 0.0625;
    return reply;
}

} // namespace

class NtpReplyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void shouldAcceptOnlyTheAnswerToOurRequest_data();
    void shouldAcceptOnlyTheAnswerToOurRequest();
    void shouldDecodeLeapVersionAndStratum_data();
    void shouldDecodeLeapVersionAndStratum();

    void shouldComputeRoundTripAndOffset_data();
    void shouldComputeRoundTripAndOffset();
    void shouldShowStatusByLeapIndicator_data();
    void shouldShowStatusByLeapIndicator();
    void shouldShowReferenceIdentifierForStratumZeroAndOne_data();
    void shouldShowReferenceIdentifierForStratumZeroAndOne();
    void shouldShowReferenceTimeOrDashWhenUnknown_data();
    void shouldShowReferenceTimeOrDashWhenUnknown();
    void shouldMarkRowByLeapStratumAndReferenceAge_data();
    void shouldMarkRowByLeapStratumAndReferenceAge();
    void shouldOfferOnlyRepliesThatDescribeTheServersTime_data();
    void shouldOfferOnlyRepliesThatDescribeTheServersTime();

    void shouldFormatSecondsWithThreeDecimalsAndNoNegativeZero_data();
    void shouldFormatSecondsWithThreeDecimalsAndNoNegativeZero();
};

void NtpReplyTest::shouldAcceptOnlyTheAnswerToOurRequest_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<ReplyCheck>("expected");

    FakeClock clock;
    double sendTime = 0.0;
    const NtpPacketBytes built = BuildNtpRequest(clock, sendTime);
    const QByteArray request(reinterpret_cast<const char*>(built.data()),
                             static_cast<qsizetype>(built.size()));

    ServerReply answer;
    answer.originate = transmitOf(request);
    answer.receiveTime = sendTime + 0.01;
    answer.transmitTime = sendTime + 0.01;
    const QByteArray good = encode(answer);

    ServerReply zeroOriginate = answer;
    zeroOriginate.originate = {};
    ServerReply earlier = answer;
    earlier.originate = SecondsToNtpTimestamp(sendTime - 1.0);
    ServerReply offByOneStep = answer;
    offByOneStep.originate[7] ^= 0x01;

    const auto withMode = [&](int mode) {
        ServerReply r = answer;
        r.mode = mode;
        return encode(r);
    };

    QTest::newRow("answer echoing our transmit") << good << request << ReplyCheck::Accepted;
    QTest::newRow("answer with zero originate") << encode(zeroOriginate) << request << ReplyCheck::Accepted;
    QTest::newRow("octets after 47 ignored")
        << good + QByteArray(20, '\x7f') << request << ReplyCheck::Accepted;
    QTest::newRow("no octets") << QByteArray() << request << ReplyCheck::TooShort;
    QTest::newRow("one octet") << good.left(1) << request << ReplyCheck::TooShort;
    QTest::newRow("47 octets") << good.left(47) << request << ReplyCheck::TooShort;
    QTest::newRow("47 octets in client mode") << withMode(3).left(47) << request << ReplyCheck::TooShort;
    QTest::newRow("client mode 3") << withMode(3) << request << ReplyCheck::NotServerMode;
    QTest::newRow("symmetric active mode 1") << withMode(1) << request << ReplyCheck::NotServerMode;
    QTest::newRow("broadcast mode 5") << withMode(5) << request << ReplyCheck::NotServerMode;
    QTest::newRow("control mode 6") << withMode(6) << request << ReplyCheck::NotServerMode;
    QTest::newRow("our request reflected back") << request << request << ReplyCheck::NotServerMode;
    QTest::newRow("originate of an earlier request")
        << encode(earlier) << request << ReplyCheck::StaleOriginate;
    QTest::newRow("originate off by 2^-32 s")
        << encode(offByOneStep) << request << ReplyCheck::StaleOriginate;
}

void NtpReplyTest::shouldAcceptOnlyTheAnswerToOurRequest()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, request);
    QFETCH(ReplyCheck, expected);

    NtpPacketBytes sent{};
    std::memcpy(sent.data(), request.constData(), sent.size());
    QCOMPARE(ParseNtpReply(datagram, sent).check, expected);
}

void NtpReplyTest::shouldDecodeLeapVersionAndStratum_data()
{
    QTest::addColumn<int>("leap");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("stratum");

    QTest::newRow("LI 0, VN 4, stratum 1") << 0 << 4 << 1;
    QTest::newRow("LI 1, VN 3, stratum 2") << 1 << 3 << 2;
    QTest::newRow("LI 2, VN 4, stratum 15") << 2 << 4 << 15;
    QTest::newRow("LI 3, VN 7, stratum 255") << 3 << 7 << 255;
}

void NtpReplyTest::shouldDecodeLeapVersionAndStratum()
{
    QFETCH(int, leap);
    QFETCH(int, version);
    QFETCH(int, stratum);

    ServerReply wire;
    wire.leap = leap;
    wire.version = version;
    wire.stratum = stratum;
    wire.referenceId = {'N', 'I', 'S', 'T'};
    wire.referenceTime = T - 16.0;
    wire.receiveTime = T + 0.5;
    wire.transmitTime = T + 0.75;

    const ParsedReply parsed = ParseNtpReply(encode(wire), NtpPacketBytes{});
    QVERIFY(parsed.accepted());
    QCOMPARE(parsed.reply.leap, leap);
    QCOMPARE(parsed.reply.version, version);
    QCOMPARE(parsed.reply.stratum, stratum);
    QCOMPARE(parsed.reply.referenceId, (RefId{'N', 'I', 'S', 'T'}));
    QCOMPARE(parsed.reply.referenceTime, T - 16.0);
    QCOMPARE(parsed.reply.originateTime, 0.0);
    QCOMPARE(parsed.reply.receiveTime, T + 0.5);
    QCOMPARE(parsed.reply.transmitTime, T + 0.75);
}

void NtpReplyTest::shouldComputeRoundTripAndOffset_data()
{
    QTest::addColumn<double>("T1");
    QTest::addColumn<double>("originate");
    QTest::addColumn<double>("T2");
    QTest::addColumn<double>("T3");
    QTest::addColumn<double>("T4");
    QTest::addColumn<QString>("roundTrip");
    QTest::addColumn<QString>("offset");

    // The server's hold time T3 - T2 is taken off the round trip, not added to it.
    QTest::newRow("hold time subtracted") << T << T << T + 0.5 << T + 0.502 << T + 0.1 << "0.098"
                                          << "0.451";
    QTest::newRow("zero originate: send time is T1") << T << 0.0 << T + 0.5 << T + 0.502 << T + 0.1 << "0.098"
                                                     << "0.451";
    QTest::newRow("echoed originate wins over send time")
        << T - 5.0 << T << T + 0.5 << T + 0.502 << T + 0.1 << "0.098"
        << "0.451";
    QTest::newRow("local clock ahead") << T << T << T - 0.25 << T - 0.25 << T + 0.078125 << "0.078"
                                       << "-0.289";

    // Past 2036-02-07 the wire holds the seconds within era 1; the local clock tells the era.
    const double era = NtpEraLength;
    const double in2040 = 4431110400.25; // 2040-06-01 00:00:00.250
    QTest::newRow("in 2040") << in2040 << in2040 - era << in2040 + 0.5 - era << in2040 + 0.502 - era
                             << in2040 + 0.1 << "0.098"
                             << "0.451";
    const double beforeRollover = era - 0.25;
    QTest::newRow("across the 2036 rollover")
        << beforeRollover << beforeRollover << 0.375 << 0.375 << era << "0.250"
        << "0.500";
}

void NtpReplyTest::shouldComputeRoundTripAndOffset()
{
    QFETCH(double, T1);
    QFETCH(double, originate);
    QFETCH(double, T2);
    QFETCH(double, T3);
    QFETCH(double, T4);
    QFETCH(QString, roundTrip);
    QFETCH(QString, offset);

    NtpReply reply = goodReply();
    reply.originateTime = std::fmod(originate, NtpEraLength);
    reply.receiveTime = T2;
    reply.transmitTime = T3;

    const ReplyEvaluation result = EvaluateNtpReply(reply, T4, T1, Settings{});
    QCOMPARE(result.roundTrip, roundTrip);
    QCOMPARE(result.offset, offset);
}

void NtpReplyTest::shouldShowStatusByLeapIndicator_data()
{
    QTest::addColumn<int>("leap");
    QTest::addColumn<QString>("status");

    QTest::newRow("LI 0") << 0 << "OK";
    QTest::newRow("LI 1: second to insert") << 1 << "LEAP";
    QTest::newRow("LI 2: second to delete") << 2 << "LEAP";
    QTest::newRow("LI 3: unsynchronised") << 3 << "NO SYNC";
}

void NtpReplyTest::shouldShowStatusByLeapIndicator()
{
    QFETCH(int, leap);
    QFETCH(QString, status);

    NtpReply reply = goodReply();
    reply.leap = leap;
    QCOMPARE(EvaluateNtpReply(reply, T + 0.125, T, Settings{}).status, status);
}

void NtpReplyTest::shouldShowReferenceIdentifierForStratumZeroAndOne_data()
{
    QTest::addColumn<int>("stratum");
    QTest::addColumn<RefId>("id");
    QTest::addColumn<QString>("shown");

    QTest::newRow("four letters") << 1 << RefId{'G', 'O', 'O', 'G'} << "GOOG";
    QTest::newRow("NIST") << 1 << RefId{'N', 'I', 'S', 'T'} << "NIST";
    QTest::newRow("trailing zero dropped") << 1 << RefId{'P', 'P', 'S', 0} << "PPS";
    QTest::newRow("two trailing zeros dropped") << 1 << RefId{'D', 'K', 0, 0} << "DK";
    QTest::newRow("zero inside is not trailing") << 1 << RefId{'A', 0, 'B', 0} << "A?B";
    QTest::newRow("control octet") << 1 << RefId{0x01, 'G', 'P', 'S'} << "?GPS";
    QTest::newRow("delete octet") << 1 << RefId{'G', 'P', 'S', 0x7f} << "GPS?";
    QTest::newRow("octet above 0x7e") << 1 << RefId{0xc4, 'C', 'F', 0} << "?CF";
    QTest::newRow("kiss code at stratum 0") << 0 << RefId{'R', 'A', 'T', 'E'} << "RATE";
    QTest::newRow("stratum 0 without code") << 0 << RefId{0, 0, 0, 0} << "";
    QTest::newRow("stratum 2 shows a dash") << 2 << RefId{192, 168, 1, 1} << "-";
    QTest::newRow("stratum 2 with letters") << 2 << RefId{'G', 'P', 'S', 0} << "-";
}

void NtpReplyTest::shouldShowReferenceIdentifierForStratumZeroAndOne()
{
    QFETCH(int, stratum);
    QFETCH(RefId, id);
    QFETCH(QString, shown);

    NtpReply reply = goodReply();
    reply.stratum = stratum;
    reply.referenceId = id;
    QCOMPARE(EvaluateNtpReply(reply, T + 0.125, T, Settings{}).reference, shown);
}

void NtpReplyTest::shouldShowReferenceTimeOrDashWhenUnknown_data()
{
    QTest::addColumn<double>("referenceTime");
    QTest::addColumn<double>("T4");
    QTest::addColumn<QString>("shown");

    QTest::newRow("rounded to the nearest second") << T - 60.5 << T << "10/03/2006 15:12:22";
    QTest::newRow("half second to even") << T - 0.625 << T << "10/03/2006 15:13:22";
    QTest::newRow("never synchronised") << 0.0 << T << "-";
    QTest::newRow("in 2040, sent modulo 2^32")
        << 4431110400.0 + 3723.0 - NtpEraLength << 4431110400.0 + 3724.0 << "01/06/2040 01:02:03";
}

void NtpReplyTest::shouldShowReferenceTimeOrDashWhenUnknown()
{
    QFETCH(double, referenceTime);
    QFETCH(double, T4);
    QFETCH(QString, shown);

    NtpReply reply = goodReply();
    reply.referenceTime = referenceTime;
    QCOMPARE(EvaluateNtpReply(reply, T4, T, Settings{}).referenceTime, shown);
}

void NtpReplyTest::shouldMarkRowByLeapStratumAndReferenceAge_data()
{
    QTest::addColumn<int>("leap");
    QTest::addColumn<int>("stratum");
    QTest::addColumn<double>("referenceAge"); // T3 - reference time; 0 sends no reference time
    QTest::addColumn<double>("offset");
    QTest::addColumn<bool>("marked");

    // Thresholds: StratumHighlight 3, RefTimeHighlight 600.
    QTest::newRow("all within") << 0 << 2 << 64.0 << 0.0 << false;
    QTest::newRow("stratum equal to threshold") << 0 << 3 << 64.0 << 0.0 << false;
    QTest::newRow("stratum one above") << 0 << 4 << 64.0 << 0.0 << true;
    QTest::newRow("reference age equal to threshold") << 0 << 2 << 600.0 << 0.0 << false;
    QTest::newRow("reference age 1 ms above") << 0 << 2 << 600.001 << 0.0 << true;
    QTest::newRow("reference hours old, clocks agree") << 0 << 2 << 7200.0 << 0.0 << true;
    QTest::newRow("fresh reference, local clock far ahead") << 0 << 2 << 64.0 << -3600.0 << false;
    QTest::newRow("no reference time") << 0 << 2 << 0.0 << 0.0 << true;
    QTest::newRow("LI 1") << 1 << 2 << 64.0 << 0.0 << true;
    QTest::newRow("LI 2") << 2 << 2 << 64.0 << 0.0 << true;
    QTest::newRow("LI 3") << 3 << 2 << 64.0 << 0.0 << true;
    QTest::newRow("kiss-o'-death, stratum 0") << 0 << 0 << 64.0 << 0.0 << true;
}

void NtpReplyTest::shouldMarkRowByLeapStratumAndReferenceAge()
{
    QFETCH(int, leap);
    QFETCH(int, stratum);
    QFETCH(double, referenceAge);
    QFETCH(double, offset);
    QFETCH(bool, marked);

    Settings settings;
    settings.StratumHighlight = 3;
    settings.RefTimeHighlight = 600;

    NtpReply reply = goodReply();
    reply.leap = leap;
    reply.stratum = stratum;
    reply.receiveTime = T + offset;
    reply.transmitTime = T + offset;
    reply.referenceTime = referenceAge == 0.0 ? 0.0 : reply.transmitTime - referenceAge;

    QCOMPARE(EvaluateNtpReply(reply, T, T, settings).marked, marked);
}

void NtpReplyTest::shouldOfferOnlyRepliesThatDescribeTheServersTime_data()
{
    QTest::addColumn<int>("leap");
    QTest::addColumn<int>("stratum");
    QTest::addColumn<bool>("zeroReceive");
    QTest::addColumn<bool>("zeroTransmit");
    QTest::addColumn<bool>("candidate");

    QTest::newRow("stratum 1") << 0 << 1 << false << false << true;
    QTest::newRow("stratum 15") << 0 << 15 << false << false << true;
    QTest::newRow("stratum 16") << 0 << 16 << false << false << false;
    QTest::newRow("kiss-o'-death") << 0 << 0 << false << false << false;
    QTest::newRow("LI 1") << 1 << 1 << false << false << false;
    QTest::newRow("LI 3") << 3 << 1 << false << false << false;
    QTest::newRow("zero receive timestamp") << 0 << 1 << true << false << false;
    QTest::newRow("zero transmit timestamp") << 0 << 1 << false << true << false;
}

void NtpReplyTest::shouldOfferOnlyRepliesThatDescribeTheServersTime()
{
    QFETCH(int, leap);
    QFETCH(int, stratum);
    QFETCH(bool, zeroReceive);
    QFETCH(bool, zeroTransmit);
    QFETCH(bool, candidate);

    // Thresholds so lax that only the reply's own fault can mark it.
    Settings settings;
    settings.StratumHighlight = 255;
    settings.RefTimeHighlight = 1 << 30;

    NtpReply reply = goodReply();
    reply.leap = leap;
    reply.stratum = stratum;
    if (zeroReceive)
        reply.receiveTime = 0.0;
    if (zeroTransmit)
        reply.transmitTime = 0.0;

    const ReplyEvaluation result = EvaluateNtpReply(reply, T + 0.125, T, settings);
    QCOMPARE(result.candidate, candidate);
    QCOMPARE(result.marked, !candidate);
}

void NtpReplyTest::shouldFormatSecondsWithThreeDecimalsAndNoNegativeZero_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    const QLocale german(QLocale::German, QLocale::Germany);

    QTest::newRow("zero") << uk << 0.0 << "0.000";
    QTest::newRow("negative zero") << uk << -0.0 << "0.000";
    QTest::newRow("small negative rounds to zero") << uk << -0.0004 << "0.000";
    QTest::newRow("small negative stays negative") << uk << -0.0006 << "-0.001";
    QTest::newRow("quarter behind") << uk << -0.25 << "-0.250";
    QTest::newRow("rounded to three decimals") << uk << 0.4516 << "0.452";
    QTest::newRow("no digit grouping") << uk << 1234.5678 << "1234.568";
    QTest::newRow("locale's separator") << german << 0.25 << "0,250";
    QTest::newRow("no grouping in German either") << german << -1234.5 << "-1234,500";
    QTest::newRow("German negative zero") << german << -0.0001 << "0,000";
}

void NtpReplyTest::shouldFormatSecondsWithThreeDecimalsAndNoNegativeZero()
{
    QFETCH(QLocale, locale);
    QFETCH(double, seconds);
    QFETCH(QString, text);

    const QLocale pinned;
    QLocale::setDefault(locale);
    const QString shown = SecondsText(seconds);
    QLocale::setDefault(pinned);
    QCOMPARE(shown, text);
}

QTEST_GUILESS_MAIN(NtpReplyTest)
#include "test_ntpreply.moc"
