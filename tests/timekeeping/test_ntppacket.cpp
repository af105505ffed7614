#include "exactdouble.h"
#include "platform/fakes/fakeclock.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <QTest>
#include <span>

using namespace ostrelle;

namespace {

QByteArray bytesOf(std::span<const std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

class NtpPacketTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldBuildClientRequestStampedWithSendTime();
    void shouldKeepSendTimeExactlyAsStamped_data();
    void shouldKeepSendTimeExactlyAsStamped();
    void shouldStampEachRequestAfresh();
};

void NtpPacketTest::shouldBuildClientRequestStampedWithSendTime()
{
    const FakeClock clock(QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC));
    double requestSendTime = 0.0;

    const NtpPacketBytes request = BuildNtpRequest(clock, requestSendTime);

    const QByteArray expected = QByteArray::fromHex("23"                     // LI 0, VN 4, mode 3
                                                    "0000000000000000000000" // stratum .. dispersion
                                                    "20202020"               // reference identifier
                                                    "0000000000000000"       // reference timestamp
                                                    "C7BC161220000000"       // originate timestamp
                                                    "0000000000000000"       // receive timestamp
                                                    "C7BC161220000000");     // transmit timestamp
    QCOMPARE(bytesOf(request).toHex(' '), expected.toHex(' '));
    OSTRELLE_COMPARE_EXACT(requestSendTime, 3350992402.125);
}

void NtpPacketTest::shouldKeepSendTimeExactlyAsStamped_data()
{
    QTest::addColumn<QDateTime>("sendTime");

    QTest::newRow("2006, millisecond not a binary fraction")
        << QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 1), Qt::UTC);
    QTest::newRow("last millisecond of era 0")
        << QDateTime(QDate(2036, 2, 7), QTime(6, 28, 15, 999), Qt::UTC);
    QTest::newRow("2040 in era 1") << QDateTime(QDate(2040, 6, 15), QTime(8, 30, 45, 250), Qt::UTC);
    // So close to the epoch that a double holds more fraction bits than the wire does.
    QTest::newRow("one millisecond after the epoch")
        << QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0, 1), Qt::UTC);
}

void NtpPacketTest::shouldKeepSendTimeExactlyAsStamped()
{
    QFETCH(QDateTime, sendTime);
    const FakeClock clock(sendTime);
    double requestSendTime = 0.0;

    const NtpPacketBytes request = BuildNtpRequest(clock, requestSendTime);

    const auto originate = std::span<const std::uint8_t, 8>(request.data() + 24, 8);
    const auto transmit = std::span<const std::uint8_t, 8>(request.data() + 40, 8);
    QCOMPARE(bytesOf(transmit).toHex(' '), bytesOf(originate).toHex(' '));
    QCOMPARE(bytesOf(SecondsToNtpTimestamp(requestSendTime)).toHex(' '), bytesOf(originate).toHex(' '));
    OSTRELLE_COMPARE_EXACT(PlaceInNearestEra(NtpTimestampToSeconds(originate), requestSendTime),
                           requestSendTime);

    const double reading = NowNtpSeconds(clock);
    QVERIFY2(
        requestSendTime <= reading && reading - requestSendTime < std::ldexp(1.0, -32) + 1e-12,
        qPrintable(
            QStringLiteral("sent %1, clock %2").arg(requestSendTime, 0, 'g', 17).arg(reading, 0, 'g', 17)));
}

void NtpPacketTest::shouldStampEachRequestAfresh()
{
    FakeClock clock(QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC));
    double requestSendTime = 0.0;

    const NtpPacketBytes first = BuildNtpRequest(clock, requestSendTime);
    clock.advanceMs(1500);
    const NtpPacketBytes second = BuildNtpRequest(clock, requestSendTime);

    OSTRELLE_COMPARE_EXACT(requestSendTime, 3350992403.625);
    QCOMPARE(bytesOf(std::span(second).subspan(24, 8)).toHex(' '), QByteArray("c7 bc 16 13 a0 00 00 00"));
    QCOMPARE(bytesOf(std::span(first).first(24)), bytesOf(std::span(second).first(24)));
}

QTEST_GUILESS_MAIN(NtpPacketTest)
#include "test_ntppacket.moc"
