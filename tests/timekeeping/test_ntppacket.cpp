#include "timekeeping/ntppacket.h"

#include <QSet>
#include <QTest>

using namespace ostrelle;

namespace {

QByteArray hexOf(const NtpPacketBytes& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), NtpPacketSize).toHex();
}

} // namespace

class NtpPacketTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldCarryTheNonceAndNoTime()
    {
        const NtpTimestampBytes nonce{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
        // LI 0, VN 4, mode 3; stratum to root dispersion zero; reference identifier four blanks;
        // reference, originate and receive zero; the nonce as the transmit field.
        QCOMPARE(hexOf(BuildNtpRequest(nonce)),
                 "23" + QByteArray(22, '0') + "20202020" + QByteArray(48, '0') + "0123456789abcdef");
    }

    void shouldDrawEveryNonceAfresh()
    {
        // 1,000 draws of 64 bits: any repeat, a stuck octet or a zero means no real randomness.
        QSet<QByteArray> seen;
        std::array<QSet<std::uint8_t>, 8> octets;
        for (int i = 0; i < 1000; ++i) {
            const NtpTimestampBytes nonce = RandomRequestNonce();
            seen.insert(QByteArray(reinterpret_cast<const char*>(nonce.data()), 8));
            QVERIFY(nonce != NtpTimestampBytes{});
            for (std::size_t k = 0; k < nonce.size(); ++k)
                octets[k].insert(nonce[k]);
        }
        QCOMPARE(seen.size(), 1000);
        for (const auto& values : octets)
            QVERIFY(values.size() > 200);
    }
};

QTEST_GUILESS_MAIN(NtpPacketTest)
#include "test_ntppacket.moc"
