#include "tests/support/localpeers.h"
#include "tests/support/ntpresponder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace ostrelle;

namespace {

// Stops a program the test started, by its own PID: politely, then for good.
void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

// The exporter as a fleet runs it: the real program, scraped by a real Prometheus on loopback,
// its series read back through Prometheus' HTTP API.
class ExporterPrometheusTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldBeScrapedByPrometheus();
};

void ExporterPrometheusTest::shouldBeScrapedByPrometheus()
{
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (prometheus.isEmpty())
        QSKIP("prometheus (Debian's package) is not installed");

    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    responder.fields.offset = 0.25;
    const QString server = QStringLiteral("127.0.0.1:%1").arg(responder.port());
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const quint16 exporterPort = FreeLoopbackPort();
    const quint16 prometheusPort = FreeLoopbackPort();
    QVERIFY(exporterPort != 0 && prometheusPort != 0 && exporterPort != prometheusPort);

    QProcess exporter;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
    exporter.setProcessEnvironment(environment);
    exporter.start(QStringLiteral(OSTRELLE_PROGRAM),
                   {QStringLiteral("--exporter"), QStringLiteral("--listen"),
                    QStringLiteral("127.0.0.1:%1").arg(exporterPort), QStringLiteral("--interval"),
                    QStringLiteral("1"), QStringLiteral("--samples"), QStringLiteral("1"), server});
    QVERIFY2(exporter.waitForStarted(), qPrintable(exporter.errorString()));

    QFile configuration(folder.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(configuration.open(QIODevice::WriteOnly));
    configuration.write(QStringLiteral("global:\n"
                                       "  scrape_interval: 1s\n"
                                       "scrape_configs:\n"
                                       "  - job_name: ostrelle\n"
                                       "    static_configs:\n"
                                       "      - targets: ['127.0.0.1:%1']\n")
                            .arg(exporterPort)
                            .toUtf8());
    configuration.close();
    QProcess scraper;
    scraper.setProcessChannelMode(QProcess::MergedChannels);
    scraper.start(prometheus,
                  {QStringLiteral("--config.file=%1").arg(configuration.fileName()),
                   QStringLiteral("--storage.tsdb.path=%1").arg(folder.filePath(QStringLiteral("data"))),
                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
    QVERIFY2(scraper.waitForStarted(), qPrintable(scraper.errorString()));

    QNetworkAccessManager network;
    const auto query = [&](const QString& expression) {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(prometheusPort));
        url.setQuery(QUrlQuery{{QStringLiteral("query"), expression}});
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
        QElapsedTimer waited;
        waited.start();
        while (!reply->isFinished() && waited.elapsed() < 5'000)
            QTest::qWait(20);
        return QJsonDocument::fromJson(reply->readAll())
            .object()
            .value(QStringLiteral("data"))
            .toObject()
            .value(QStringLiteral("result"))
            .toArray();
    };
    QJsonArray up;
    QElapsedTimer waited;
    waited.start();
    while (up.isEmpty() && waited.elapsed() < 60'000 && exporter.state() == QProcess::Running &&
           scraper.state() == QProcess::Running) {
        QTest::qWait(500);
        up = query(QStringLiteral("ostrelle_server_up == 1"));
    }
    const QJsonArray offset = query(QStringLiteral("ostrelle_server_offset_seconds"));
    const QJsonArray target = query(QStringLiteral("up{job=\"ostrelle\"}"));
    stop(scraper);
    stop(exporter);
    QVERIFY2(!up.isEmpty(), scraper.readAll().right(3000).constData());
    QCOMPARE(up.at(0)["metric"]["server"].toString(), server);
    QCOMPARE(target.at(0)["value"][1].toString(), QStringLiteral("1"));
    QVERIFY2(std::abs(offset.at(0)["value"][1].toString().toDouble() - 0.25) < 0.05,
             qPrintable(QJsonDocument(offset).toJson()));
}

QTEST_GUILESS_MAIN(ExporterPrometheusTest)
#include "test_exporterprometheus.moc"
