#pragma once

#include "report/reportoptions.h"
#include "report/reportrow.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

class QHttpServer;

namespace ostrelle {

class ReportSource;

// The long-running exporter: one pass after another with the same poller, limits and agreement
// as the report, the interval between the end of one and the start of the next, and the last
// pass served as Prometheus metrics on GET /metrics. A scrape never waits for the network: it
// gets the metrics the last finished pass left.
class MetricsExporter final : public QObject
{
    Q_OBJECT
public:
    MetricsExporter(ReportSource& source, const ReportOptions& options,
                    std::optional<std::chrono::seconds> interval, QObject* parent = nullptr);
    ~MetricsExporter() override;

    // Listens on address and port (0: any free port). False, with the reason in whyNot, when it cannot.
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port, QString* whyNot);
    quint16 serverPort() const { return m_port; }

    // The first pass at once, then one after another.
    void start();

    // What a scrape gets now.
    QByteArray metrics() const { return m_metrics; }
    qint64 passes() const { return m_passes; }

signals:
    void passFinished();

private:
    void runPass();
    void keepLastAnswers(Report& report);
    QByteArray exporterMetrics() const;

    ReportSource& m_source;
    ReportOptions m_options;
    std::optional<std::chrono::seconds> m_interval;
    std::unique_ptr<QHttpServer> m_server;
    quint16 m_port = 0;
    QTimer m_nextPass;
    QByteArray m_metrics;
    qint64 m_passes = 0;
    double m_lastPassSeconds = 0.0;
    std::optional<qint64> m_lastPassEndMs; // since 1970
    // A silent server's last answer, from an earlier pass: "server address" to when.
    QHash<QString, ReportTime> m_lastAnswers;
};

} // namespace ostrelle
