#include "ntp/nts/ntskerecords.h"
#include "tests/ntp/ntsserverside.h"

#include <QTest>

using namespace ostrelle;

namespace {

QByteArray u16(std::uint16_t value)
{
    return QByteArray(1, char(value >> 8)) + char(value & 0xff);
}

const QByteArray NextProtocol = NtsKeRecord(true, 1, u16(0));
const QByteArray Aead = NtsKeRecord(false, 4, u16(15));
const QByteArray CookieA = NtsKeRecord(false, 5, "cookie-a");
const QByteArray CookieB = NtsKeRecord(false, 5, "cookie-b");
const QByteArray End = NtsKeRecord(true, 0, {});

} // namespace

class TestNtsKeRecords : public QObject
{
    Q_OBJECT
private slots:
    void shouldRequestNtpV4WithAesSivAsCriticalRecords()
    {
        // Each record: critical bit set, then its body; the server refuses a request without them.
        QCOMPARE(EncodeNtsKeRequest(),
                 NtsKeRecord(true, 1, u16(0)) + NtsKeRecord(true, 4, u16(15)) + NtsKeRecord(true, 0, {}));
    }

    // "complete", or the reason the response is refused.
    void shouldDecodeResponse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("outcome");
        const QByteArray minimal = NextProtocol + Aead + CookieA;
        const auto row = [](const char* name, const QByteArray& bytes, const char* outcome) {
            QTest::newRow(name) << bytes << QString::fromLatin1(outcome);
        };
        row("minimal", minimal + End, "complete");
        row("unknown non-critical record skipped", minimal + NtsKeRecord(false, 0x4321, "xyz") + End,
            "complete");
        row("records after the end ignored", minimal + End + NtsKeRecord(true, 0x4321, {}), "complete");
        row("unknown critical record", minimal + NtsKeRecord(true, 0x4321, {}) + End,
            "unknown critical record 17185");
        row("error bad request", NtsKeRecord(true, 2, u16(1)) + End, "bad request");
        row("error unknown code", NtsKeRecord(true, 2, u16(77)), "error 77");
        row("warning", minimal + NtsKeRecord(true, 3, u16(5)) + End, "warning 5");
        row("no next protocol", Aead + CookieA + End, "no next protocol");
        row("no AEAD", NextProtocol + CookieA + End, "no AEAD algorithm");
        row("no cookie", NextProtocol + Aead + End, "no cookie");
        row("other protocol", NtsKeRecord(true, 1, u16(1)) + Aead + CookieA + End, "next protocol not NTPv4");
        row("two protocols", NtsKeRecord(true, 1, u16(0) + u16(0)) + Aead + CookieA + End,
            "next protocol not NTPv4");
        row("odd-length AEAD", NextProtocol + NtsKeRecord(true, 4, QByteArray(1, 0)) + CookieA + End,
            "AEAD algorithm not AES-SIV-CMAC-256");
        row("port zero", minimal + NtsKeRecord(true, 7, u16(0)) + End, "malformed port record");
        row("server name with a space", minimal + NtsKeRecord(true, 6, "a b") + End,
            "malformed server record");
        row("end with a body", minimal + NtsKeRecord(true, 0, "x"), "malformed end of message");
    }

    void shouldDecodeResponse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, outcome);
        const NtsKeResponse response = DecodeNtsKeResponse(bytes);
        QCOMPARE(response.complete() ? QStringLiteral("complete") : response.reason, outcome);
        QCOMPARE(int(response.status),
                 int(response.complete() ? NtsKeResponse::Status::Complete : NtsKeResponse::Status::Refused));
    }

    // Every prefix of a good response is incomplete, never refused nor read past its end.
    void shouldWaitForTheRestOfAnyPrefix()
    {
        const QByteArray full = NextProtocol + Aead + CookieA + CookieB +
                                NtsKeRecord(true, 6, "ntp.example") + NtsKeRecord(true, 7, u16(4123)) + End;
        for (qsizetype n = 0; n < full.size(); ++n)
            QCOMPARE(int(DecodeNtsKeResponse(full.left(n)).status), int(NtsKeResponse::Status::Incomplete));
        const NtsKeResponse response = DecodeNtsKeResponse(full);
        QVERIFY(response.complete());
        QCOMPARE(response.cookies, (QList<QByteArray>{"cookie-a", "cookie-b"}));
        QCOMPARE(response.ntpServer, QStringLiteral("ntp.example"));
        QCOMPARE(response.ntpPort, 4123);
    }
};

QTEST_GUILESS_MAIN(TestNtsKeRecords)
#include "test_ntskerecords.moc"
