#include "ntp/nts/ntskerecords.h"

#include <QTest>

using namespace ostrelle;

namespace {

// A record as the server would send it: critical bit, type, body.
QByteArray record(bool critical, std::uint16_t type, const QByteArray& body)
{
    const std::uint16_t field = type | (critical ? 0x8000 : 0);
    QByteArray out;
    out.append(char(field >> 8)).append(char(field & 0xff));
    out.append(char(body.size() >> 8)).append(char(body.size() & 0xff));
    return out + body;
}

QByteArray u16(std::uint16_t value)
{
    return QByteArray(1, char(value >> 8)) + char(value & 0xff);
}

const QByteArray NextProtocol = record(true, 1, u16(0));
const QByteArray Aead = record(false, 4, u16(15));
const QByteArray CookieA = record(false, 5, "cookie-a");
const QByteArray CookieB = record(false, 5, "cookie-b");
const QByteArray End = record(true, 0, {});

} // namespace

class TestNtsKeRecords : public QObject
{
    Q_OBJECT
private slots:
    void shouldRequestNtpV4WithAesSivAsCriticalRecords()
    {
        // Each record: critical bit set, then its body; the server refuses a request without them.
        QCOMPARE(EncodeNtsKeRequest(),
                 record(true, 1, u16(0)) + record(true, 4, u16(15)) + record(true, 0, {}));
    }

    void shouldDecodeResponse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("cookies");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        using S = NtsKeResponse::Status;
        const QByteArray minimal = NextProtocol + Aead + CookieA;

        QTest::newRow("minimal") << minimal + End << int(S::Complete) << "" << 1 << "" << -1;
        QTest::newRow("cookies, server and port")
            << NextProtocol + Aead + CookieA + CookieB + record(true, 6, "ntp.example") +
                   record(true, 7, u16(4123)) + End
            << int(S::Complete) << "" << 2 << "ntp.example" << 4123;
        QTest::newRow("unknown non-critical record skipped")
            << minimal + record(false, 0x4321, "xyz") + End << int(S::Complete) << "" << 1 << "" << -1;
        QTest::newRow("records after the end ignored")
            << minimal + End + record(true, 0x4321, {}) << int(S::Complete) << "" << 1 << "" << -1;

        QTest::newRow("empty") << QByteArray() << int(S::Incomplete) << "" << 0 << "" << -1;
        QTest::newRow("header cut") << minimal + End.left(3) << int(S::Incomplete) << "" << 0 << "" << -1;
        QTest::newRow("body cut") << NextProtocol + Aead + CookieA.left(7) << int(S::Incomplete) << "" << 0
                                  << "" << -1;
        QTest::newRow("no end yet") << minimal << int(S::Incomplete) << "" << 0 << "" << -1;

        QTest::newRow("unknown critical record")
            << minimal + record(true, 0x4321, {}) + End << int(S::Refused) << "unknown critical record 17185"
            << 0 << "" << -1;
        QTest::newRow("error bad request")
            << record(true, 2, u16(1)) + End << int(S::Refused) << "bad request" << 0 << "" << -1;
        QTest::newRow("error unrecognized critical") << minimal + record(true, 2, u16(0)) << int(S::Refused)
                                                     << "unrecognized critical record" << 0 << "" << -1;
        QTest::newRow("error unknown code")
            << record(true, 2, u16(77)) << int(S::Refused) << "error 77" << 0 << "" << -1;
        QTest::newRow("warning") << minimal + record(true, 3, u16(5)) + End << int(S::Refused) << "warning 5"
                                 << 0 << "" << -1;
        QTest::newRow("no next protocol")
            << Aead + CookieA + End << int(S::Refused) << "no next protocol" << 0 << "" << -1;
        QTest::newRow("no AEAD") << NextProtocol + CookieA + End << int(S::Refused) << "no AEAD algorithm"
                                 << 0 << "" << -1;
        QTest::newRow("no cookie") << NextProtocol + Aead + End << int(S::Refused) << "no cookie" << 0 << ""
                                   << -1;
        QTest::newRow("other protocol") << record(true, 1, u16(1)) + Aead + CookieA + End << int(S::Refused)
                                        << "next protocol not NTPv4" << 0 << "" << -1;
        QTest::newRow("two protocols") << record(true, 1, u16(0) + u16(0)) + Aead + CookieA + End
                                       << int(S::Refused) << "next protocol not NTPv4" << 0 << "" << -1;
        QTest::newRow("other AEAD") << NextProtocol + record(true, 4, u16(30)) + CookieA + End
                                    << int(S::Refused) << "AEAD algorithm not AES-SIV-CMAC-256" << 0 << ""
                                    << -1;
        QTest::newRow("odd-length AEAD")
            << NextProtocol + record(true, 4, QByteArray(1, 0)) + CookieA + End << int(S::Refused)
            << "AEAD algorithm not AES-SIV-CMAC-256" << 0 << "" << -1;
        QTest::newRow("port zero") << minimal + record(true, 7, u16(0)) + End << int(S::Refused)
                                   << "malformed port record" << 0 << "" << -1;
        QTest::newRow("server name with a space") << minimal + record(true, 6, "a b") + End << int(S::Refused)
                                                  << "malformed server record" << 0 << "" << -1;
        QTest::newRow("end with a body") << minimal + record(true, 0, "x") << int(S::Refused)
                                         << "malformed end of message" << 0 << "" << -1;
    }

    void shouldDecodeResponse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(int, cookies);
        QFETCH(QString, server);
        QFETCH(int, port);

        const NtsKeResponse response = DecodeNtsKeResponse(bytes);
        QCOMPARE(int(response.status), status);
        QCOMPARE(response.reason, reason);
        if (response.complete()) {
            QCOMPARE(response.cookies.size(), cookies);
            QCOMPARE(response.cookies.first(), QByteArray("cookie-a"));
            QCOMPARE(response.ntpServer, server);
            QCOMPARE(response.ntpPort, port);
        }
    }

    // Every prefix of a good response is incomplete, never refused nor read past its end.
    void shouldWaitForTheRestOfAnyPrefix()
    {
        const QByteArray full = NextProtocol + Aead + CookieA + record(true, 6, "h") + End;
        for (qsizetype n = 0; n < full.size(); ++n)
            QCOMPARE(int(DecodeNtsKeResponse(full.left(n)).status), int(NtsKeResponse::Status::Incomplete));
        QVERIFY(DecodeNtsKeResponse(full).complete());
    }
};

QTEST_GUILESS_MAIN(TestNtsKeRecords)
#include "test_ntskerecords.moc"
