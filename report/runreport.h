#pragma once

#include "report/reportoptions.h"
#include "report/reportrow.h"

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
};

// What main() runs for --report: collects the report from source, writes it to out in the
// requested format and returns the exit status (0 to 2, see ReportStatus).
int RunReport(const ReportOptions& options, ReportSource& source, QTextStream& out);

// What main() runs for any command line but StartWindow: the help or version text on out and 0,
// a usage error on err and 3, or the report. main() needs only a QCoreApplication for these.
int RunCommandLine(const CommandLine& line, ReportSource& source, QTextStream& out, QTextStream& err);

} // namespace ostrelle
