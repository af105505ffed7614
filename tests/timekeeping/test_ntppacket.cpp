#include "exactdouble.h"
#include "platform/fakes/fakeclock.h"
#include "timekeeping/ntppacket.h"

#include <QDateTime>
#include <QTest>

using namespace ostrelle;

class NtpPacketTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldBuildClientRequestStampedWithSendTime_data()
    {
        QTest::addColumn<QDateTime>("clock");
        QTest::addColumn<QByteArray>("stamp");
        QTest::addColumn<double>("sendTime");
        QTest::newRow("2006-03-10 15:13:22.125")
            << QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC)
            << QByteArray("c7bc161220000000") << 3350992402.125;
        QTest::newRow("2040 in era 1") << QDateTime(QDate(2040, 6, 15), QTime(8, 30, 45, 250), Qt::UTC)
                                       << QByteArray("08304db540000000") << 4432350645.25;
        // So close to the epoch that the clock's reading holds more fraction bits than the wire.
        QTest::newRow("1 ms after the epoch") << QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0, 1), Qt::UTC)
                                              << QByteArray("0000000000418937") << 0x418937p-32;
    }
    void shouldBuildClientRequestStampedWithSendTime()
    {
        QFETCH(QDateTime, clock);
        QFETCH(QByteArray, stamp);
        QFETCH(double, sendTime);
        double requestSendTime = 0.0;
        const NtpPacketBytes request = BuildNtpRequest(FakeClock(clock), requestSendTime);
        // LI 0, VN 4, mode 3; stratum to root dispersion zero; reference identifier four blanks;
        // the send time in both the originate and the transmit field.
        const QByteArray zeros(16, '0');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(request.data()), 48).toHex(),
                 "23" + QByteArray(22, '0') + "20202020" + zeros + stamp + zeros + stamp);
        OSTRELLE_COMPARE_EXACT(requestSendTime, sendTime);
    }
};

QTEST_GUILESS_MAIN(NtpPacketTest)
#include "test_ntppacket.moc"
