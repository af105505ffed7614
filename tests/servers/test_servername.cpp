#include "servers/servername.h"

#include <QTest>

using namespace ostrelle;

// Every place a name comes from (the add dialog, the stored list, the command line) reads it
// through this one parser, so each form is pinned here once.
class TestServerName : public QObject
{
    Q_OBJECT
private slots:
    void shouldReadEveryNameForm_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("nts");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("name") << "a.example" << true << false << "a.example" << 0;
        QTest::newRow("name and port") << "a.example:12300" << true << false << "a.example" << 12300;
        QTest::newRow("IPv4 and port") << "127.0.0.2:1" << true << false << "127.0.0.2" << 1;
        QTest::newRow("bare IPv6") << "::1" << true << false << "::1" << 0;
        QTest::newRow("bracketed IPv6") << "[fe80::1%eth0]" << true << false << "fe80::1%eth0" << 0;
        QTest::newRow("bracketed IPv6 and port") << "[::1]:65535" << true << false << "::1" << 65535;
        QTest::newRow("blanks around") << "  a.example:5 " << true << false << "a.example" << 5;
        QTest::newRow("NTS") << "nts://time.example.net" << true << true << "time.example.net" << 0;
        QTest::newRow("NTS with port")
            << "nts://time.example.net:1234" << true << true << "time.example.net" << 1234;
        QTest::newRow("NTS in capitals")
            << "NTS://Time.Example.net" << true << true << "time.example.net" << 0;
        QTest::newRow("NTS over IPv6") << "nts://[::1]:4461" << true << true << "::1" << 4461;
        QTest::newRow("port 0") << "a.example:0" << false << false << "" << 0;
        QTest::newRow("port too large") << "127.0.0.1:65536" << false << false << "" << 0;
        QTest::newRow("port not a number") << "a.example:ntp" << false << false << "" << 0;
        QTest::newRow("bracket left open") << "[::1:123" << false << false << "" << 0;
        QTest::newRow("text after the bracket") << "[::1]x" << false << false << "" << 0;
        QTest::newRow("port without host") << ":123" << false << false << "" << 0;
        QTest::newRow("two ports") << "127.0.0.1:127.0.0.2:123" << false << false << "" << 0;
        QTest::newRow("other scheme") << "ntp://time.example.net" << false << false << "" << 0;
        QTest::newRow("NTS port 0") << "nts://h:0" << false << false << "" << 0;
        QTest::newRow("NTS port too large") << "nts://h:99999" << false << false << "" << 0;
        QTest::newRow("NTS with a path") << "nts://h/x" << false << false << "" << 0;
        QTest::newRow("NTS with a user") << "nts://u@h" << false << false << "" << 0;
        QTest::newRow("NTS without host") << "nts://" << false << false << "" << 0;
    }

    void shouldReadEveryNameForm()
    {
        QFETCH(QString, name);
        QFETCH(bool, usable);
        QFETCH(bool, nts);
        QFETCH(QString, host);
        QFETCH(int, port);
        const std::optional<ServerAddress> address = ParseServerAddress(name);
        QCOMPARE(address.has_value(), usable);
        QCOMPARE(CheckServerName(name) == ServerNameCheck::Usable, usable);
        if (!usable) {
            QCOMPARE(CheckServerName(name), ServerNameCheck::Malformed);
            return;
        }
        QCOMPARE(address->isNts(), nts);
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
    }
};

QTEST_GUILESS_MAIN(TestServerName)
#include "test_servername.moc"
