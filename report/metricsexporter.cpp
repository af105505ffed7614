#include "report/metricsexporter.h"

#include "report/reportformat.h"
#include "report/runreport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTextStream>

namespace ostrelle {

namespace {

// The version of the text format Prometheus asks for.
constexpr char MetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

QString answerKey(const ReportRow& row)
{
    return row.server + QLatin1Char(' ') + row.address;
}

} // namespace

MetricsExporter::MetricsExporter(ReportSource& source, const ReportOptions& options,
                                 std::optional<std::chrono::seconds> interval, QObject* parent)
    : QObject(parent), m_source(source), m_options(options), m_interval(interval),
      m_server(std::make_unique<QHttpServer>())
{
    m_nextPass.setSingleShot(true);
    connect(&m_nextPass, &QTimer::timeout, this, &MetricsExporter::runPass);
    m_metrics = exporterMetrics();
    m_server->route(QStringLiteral("/metrics"),
                    QHttpServerRequest::Method::Get | QHttpServerRequest::Method::Head,
                    [this] { return QHttpServerResponse(MetricsContentType, m_metrics); });
    m_server->route(QStringLiteral("/"), QHttpServerRequest::Method::Get, [] {
        return QHttpServerResponse("text/plain; charset=utf-8",
                                   "Brevikon Ostrelle exporter: the metrics are at /metrics\n");
    });
}

MetricsExporter::~MetricsExporter() = default;

bool MetricsExporter::listen(const QHostAddress& address, quint16 port, QString* whyNot)
{
    m_port = m_server->listen(address, port);
    if (m_port == 0 && whyNot) {
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(address.toString())
                                 : address.toString();
        *whyNot = QStringLiteral("cannot listen on %1:%2 (in use, or not an address of this machine)")
                      .arg(host)
                      .arg(port);
    }
    return m_port != 0;
}

void MetricsExporter::start()
{
    m_nextPass.start(0);
}

void MetricsExporter::runPass()
{
    // Read before the pass, so that an interval stored meanwhile counts from this pass's end.
    const std::chrono::seconds interval = m_interval.value_or(m_source.storedPollInterval());
    QElapsedTimer took;
    took.start();
    // collect() runs an event loop of its own, in which the HTTP server goes on answering from
    // the metrics of the pass before.
    Report report = m_source.collect(m_options);
    report.thresholds = m_options.thresholds;
    keepLastAnswers(report);
    m_lastPassSeconds = double(took.nsecsElapsed()) / 1e9;
    m_lastPassEndMs = QDateTime::currentMSecsSinceEpoch();
    ++m_passes;
    m_metrics = PrometheusReport(report).toUtf8() + exporterMetrics();
    m_nextPass.start(interval);
    emit passFinished();
}

void MetricsExporter::keepLastAnswers(Report& report)
{
    QHash<QString, ReportTime> seen;
    for (ReportRow& row : report.rows) {
        const QString key = answerKey(row);
        if (!row.answeredAt) {
            if (const auto earlier = m_lastAnswers.constFind(key); earlier != m_lastAnswers.constEnd())
                row.answeredAt = *earlier;
        }
        if (row.answeredAt)
            seen.insert(key, *row.answeredAt);
    }
    // Only the servers still listed, so that a fleet that changes does not grow this for ever.
    m_lastAnswers = std::move(seen);
}

QByteArray MetricsExporter::exporterMetrics() const
{
    QString text =
        QStringLiteral("# HELP ostrelle_exporter_passes_total Passes finished since the exporter started.\n"
                       "# TYPE ostrelle_exporter_passes_total counter\n"
                       "ostrelle_exporter_passes_total %1\n"
                       "# HELP ostrelle_exporter_pass_duration_seconds How long the last pass took.\n"
                       "# TYPE ostrelle_exporter_pass_duration_seconds gauge\n")
            .arg(m_passes);
    if (m_passes > 0)
        text += QStringLiteral("ostrelle_exporter_pass_duration_seconds %1\n").arg(m_lastPassSeconds);
    text +=
        QStringLiteral("# HELP ostrelle_exporter_last_pass_timestamp_seconds When the last pass ended, in "
                       "seconds since 1970.\n"
                       "# TYPE ostrelle_exporter_last_pass_timestamp_seconds gauge\n");
    if (m_lastPassEndMs)
        text += QStringLiteral("ostrelle_exporter_last_pass_timestamp_seconds %1\n")
                    .arg(QString::number(double(*m_lastPassEndMs) / 1000.0, 'f', 3));
    return text.toUtf8();
}

int RunExporter(const CommandLine& line, ReportSource& source, QTextStream& err)
{
    MetricsExporter exporter(source, line.options, line.exporter.interval);
    QString whyNot;
    if (!exporter.listen(QHostAddress(line.exporter.listenHost), line.exporter.listenPort, &whyNot)) {
        err << QStringLiteral("ostrelle: %1\n").arg(whyNot);
        err.flush();
        return int(ReportStatus::Critical);
    }
    exporter.start();
    return QCoreApplication::exec();
}

} // namespace ostrelle
