#include "ntp/nts/aessiv.h"

#include <QTest>

using namespace ostrelle;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Key, associated data and plaintext of RFC 5297 appendix A.1.
const QByteArray Key = hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
const QByteArray AssociatedData = hex("101112131415161718191a1b1c1d1e1f2021222324252627");
const QByteArray Plaintext = hex("112233445566778899aabbccddee");
// The nonce of RFC 5297 appendix A.2.
const QByteArray Nonce = hex("09f911029d74e35bd84156c5635688c0");

} // namespace

class TestAesSiv : public QObject
{
    Q_OBJECT
private slots:
    // GnuTLS always adds a nonce as the last header before the plaintext, so A.1 (no nonce) is
    // reached as its vector with the nonce given as the only header, and as its key, data and
    // plaintext with a nonce; the expected outputs come from an independent RFC 5297
    // implementation that reproduces A.1 exactly (85632d07...).
    void shouldMatchKnownAnswers_data()
    {
        QTest::addColumn<QByteArray>("nonce");
        QTest::addColumn<QByteArray>("associatedData");
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("A.1, header as nonce")
            << AssociatedData << QByteArray() << Plaintext
            << hex("4b3d0f15ae9ffa9e65b949421582ef70e410910d6446c7759ebff9b5385a");
        QTest::newRow("A.1 with nonce")
            << Nonce << AssociatedData << Plaintext
            << hex("b477a36b0d0f78987d985f3887a7572d52352f0ed261459e0de50f268260");
        QTest::newRow("A.1 with nonce, empty plaintext")
            << Nonce << AssociatedData << QByteArray() << hex("0c035e01be6d9bd50c002b38d77f1eb0");
    }

    void shouldMatchKnownAnswers()
    {
        QFETCH(QByteArray, nonce);
        QFETCH(QByteArray, associatedData);
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, expected);
        const AesSivCmac256 cipher(Key);
        QVERIFY(cipher.valid());

        QCOMPARE(cipher.encrypt(nonce, associatedData, plaintext).value_or("refused").toHex(),
                 expected.toHex());
        const std::optional<QByteArray> decrypted = cipher.decrypt(nonce, associatedData, expected);
        QVERIFY(decrypted);
        QCOMPARE(*decrypted, plaintext);
    }

    // Any change to tag, ciphertext, data or nonce, down to one bit, is refused; so is an input too
    // short to hold a tag, an empty nonce (GnuTLS would abort) and, whatever the input, a key of the
    // wrong size.
    void shouldRefuseWhatDoesNotVerify_data()
    {
        QTest::addColumn<QByteArray>("nonce");
        QTest::addColumn<QByteArray>("associatedData");
        QTest::addColumn<QByteArray>("ciphertext");
        const QByteArray good = *AesSivCmac256(Key).encrypt(Nonce, AssociatedData, Plaintext);
        auto flipped = [](QByteArray bytes, qsizetype at) {
            bytes[at] = char(bytes[at] ^ 0x01);
            return bytes;
        };
        QTest::newRow("tag bit") << Nonce << AssociatedData << flipped(good, 0);
        QTest::newRow("ciphertext bit") << Nonce << AssociatedData << flipped(good, good.size() - 1);
        QTest::newRow("data bit") << Nonce << flipped(AssociatedData, 3) << good;
        QTest::newRow("nonce bit") << flipped(Nonce, 15) << AssociatedData << good;
        QTest::newRow("shorter than a tag") << Nonce << AssociatedData << good.left(15);
        QTest::newRow("empty nonce") << QByteArray() << AssociatedData << good;
    }

    void shouldRefuseWhatDoesNotVerify()
    {
        QFETCH(QByteArray, nonce);
        QFETCH(QByteArray, associatedData);
        QFETCH(QByteArray, ciphertext);
        QVERIFY(!AesSivCmac256(Key).decrypt(nonce, associatedData, ciphertext));
        QVERIFY(!AesSivCmac256(Key.left(16)).decrypt(Nonce, AssociatedData, ciphertext));
        if (nonce.isEmpty())
            QVERIFY(!AesSivCmac256(Key).encrypt(nonce, associatedData, Plaintext));
    }
};

QTEST_GUILESS_MAIN(TestAesSiv)
#include "test_aessiv.moc"
