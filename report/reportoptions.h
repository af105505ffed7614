#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace ostrelle {

enum class ReportFormat { Text, Json, Csv, Prometheus };

// What `ostrelle --report` was asked to do. Unset limits fall back to the stored options.
struct ReportOptions
{
    ReportFormat format = ReportFormat::Text;
    std::chrono::milliseconds timeout{10'000};
    std::optional<int> stratumLimit;
    std::optional<std::chrono::minutes> referenceAgeLimit;
    QStringList servers; // empty: the stored list
};

// The outcome of reading the command line before any application object exists.
struct CommandLine
{
    enum class Action {
        StartWindow, // none of the report's options: the window starts as it always has
        Report,
        ShowHelp,
        ShowVersion,
        UsageError,
    };

    Action action = Action::StartWindow;
    ReportOptions options; // meaningful for Report
    QString text;          // the help or version text, or the one-line error, each ending in '\n'
};

// Reads arguments (the program name first). Only when one of the report's options, --help or
// --version appears is the command line read strictly; otherwise it is left to the window and
// Qt's own options, as it always was.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace ostrelle
