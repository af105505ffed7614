#pragma once

#include "report/reportoptions.h"
#include "report/reportrow.h"

#include <chrono>

class QTextStream;

namespace ostrelle {

// The part of the report that asks the servers. It polls every server of options once (the
// stored list when options names none), applies the window's checks and the agreement check, and
// returns when every server has answered or timed out.
class ReportSource
{
public:
    virtual ~ReportSource() = default;
    virtual Report collect(const ReportOptions& options) = 0;
    // The poll interval the operator stored, read afresh: the exporter's wait between passes.
    virtual std::chrono::seconds storedPollInterval() { return std::chrono::seconds(60); }
};

// What main() runs for --report: collects the report from source, writes it to out in the
// requested format and returns the exit status (0 to 2, see ReportStatus).
int RunReport(const ReportOptions& options, ReportSource& source, QTextStream& out);

// What main() runs for --exporter: polls with source one pass after another and serves the last
// pass on HTTP until the process is stopped. Returns only when it cannot listen (2), or in a build
// without Qt HTTP Server (3), with the reason on err.
int RunExporter(const CommandLine& line, ReportSource& source, QTextStream& err);

// What main() runs for any command line but StartWindow: the help or version text on out and 0,
// a usage error on err and 3, the report, or the exporter. main() needs only a QCoreApplication for these.
int RunCommandLine(const CommandLine& line, ReportSource& source, QTextStream& out, QTextStream& err);

} // namespace ostrelle
