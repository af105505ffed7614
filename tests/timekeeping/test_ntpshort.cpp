#include "timekeeping/ntpshort.h"

#include <QByteArray>
#include <QTest>
#include <array>

using namespace ostrelle;

namespace {

std::array<std::uint8_t, 4> octets(const QByteArray& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    return {std::uint8_t(raw[0]), std::uint8_t(raw[1]), std::uint8_t(raw[2]), std::uint8_t(raw[3])};
}

} // namespace

class NtpShortTest : public QObject
{
    Q_OBJECT

private slots:
    // The same four octets read as the root delay (signed) and the root dispersion (unsigned).
    void shouldReadSixteenDotSixteenSeconds_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<double>("asSigned");
        QTest::addColumn<double>("asUnsigned");
        QTest::newRow("smallest step") << QByteArray("00000001") << 0x1p-16 << 0x1p-16;
        QTest::newRow("one and a quarter") << QByteArray("00014000") << 1.25 << 1.25;
        QTest::newRow("octet order") << QByteArray("01020304") << 258.0 + 772.0 / 65536.0
                                     << 258.0 + 772.0 / 65536.0;
        QTest::newRow("minus one") << QByteArray("ffff0000") << -1.0 << 65535.0;
        QTest::newRow("minus smallest step") << QByteArray("ffffffff") << -0x1p-16 << 65536.0 - 0x1p-16;
        QTest::newRow("most negative") << QByteArray("80000000") << -32768.0 << 32768.0;
        QTest::newRow("largest positive") << QByteArray("7fffffff") << 32768.0 - 0x1p-16 << 32768.0 - 0x1p-16;
    }
    void shouldReadSixteenDotSixteenSeconds()
    {
        QFETCH(QByteArray, hex);
        QFETCH(double, asSigned);
        QFETCH(double, asUnsigned);
        const std::array<std::uint8_t, 4> bytes = octets(hex);
        QCOMPARE(NtpShortSignedSeconds(bytes), asSigned);
        QCOMPARE(NtpShortUnsignedSeconds(bytes), asUnsigned);
    }

    void shouldReadPrecisionAsSignedPowerOfTwo_data()
    {
        QTest::addColumn<int>("octet");
        QTest::addColumn<double>("seconds");
        QTest::newRow("one second") << 0x00 << 1.0;
        QTest::newRow("-20, about a microsecond") << 0xEC << 0x1p-20;
        QTest::newRow("most negative") << 0x80 << 0x1p-128;
        QTest::newRow("positive 3") << 0x03 << 8.0;
    }
    void shouldReadPrecisionAsSignedPowerOfTwo()
    {
        QFETCH(int, octet);
        QFETCH(double, seconds);
        QCOMPARE(NtpPrecisionSeconds(static_cast<std::uint8_t>(octet)), seconds);
    }
};

QTEST_GUILESS_MAIN(NtpShortTest)
#include "test_ntpshort.moc"
