#pragma once

#include "report/thresholdrange.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace ostrelle {

enum class ReportFormat { Text, Json, Csv, Prometheus };

// What `ostrelle --report` was asked to do. Unset limits fall back to the stored options.
inline constexpr int MaxReportSamples = 8;

struct ReportOptions
{
    ReportFormat format = ReportFormat::Text;
    std::chrono::milliseconds timeout{10'000}; // for all of one server's samples
    int samples = 4;
    // Between two requests to one server: ntpd drops a client's packets closer than 2 s apart.
    std::chrono::milliseconds sampleSpacing{2'000};
    std::optional<int> stratumLimit;
    std::optional<std::chrono::minutes> referenceAgeLimit;
    ReportThresholds thresholds;
    QStringList servers; // empty: the stored list
};

// The exporter's address when --listen names none: loopback only, so that nothing is served
// beyond this machine unless the operator says so.
inline constexpr quint16 DefaultExporterPort = 9817;

struct ExporterOptions
{
    QString listenHost = QStringLiteral("127.0.0.1");
    quint16 listenPort = DefaultExporterPort;
    // Between the end of one pass and the next; the stored poll interval when unset.
    std::optional<std::chrono::seconds> interval{};
};

// The outcome of reading the command line before any application object exists.
struct CommandLine
{
    enum class Action {
        StartWindow, // none of the report's options: the window starts as it always has
        Report,
        Exporter,
        ShowHelp,
        ShowVersion,
        UsageError,
    };

    Action action = Action::StartWindow;
    ReportOptions options;      // meaningful for Report and Exporter
    QString text;               // the help or version text, or the one-line error, each ending in '\n'
    ExporterOptions exporter{}; // meaningful for Exporter
};

// Reads arguments (the program name first). Only when one of the report's options, --help or
// --version appears is the command line read strictly; otherwise it is left to the window and
// Qt's own options, as it always was.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace ostrelle
