#include "report/runreport.h"

#include "report/reportformat.h"

#include <QTextStream>

namespace ostrelle {

int RunReport(const ReportOptions& options, ReportSource& source, QTextStream& out)
{
    Report report = source.collect(options);
    report.thresholds = options.thresholds;
    out << FormatReport(report, options.format);
    out.flush();
    return int(StatusOf(report));
}

int RunCommandLine(const CommandLine& line, ReportSource& source, QTextStream& out, QTextStream& err)
{
    switch (line.action) {
    case CommandLine::Action::Report:
        return RunReport(line.options, source, out);
    case CommandLine::Action::Exporter:
        return RunExporter(line, source, err);
    case CommandLine::Action::ShowHelp:
    case CommandLine::Action::ShowVersion:
        out << line.text;
        out.flush();
        return 0;
    case CommandLine::Action::UsageError:
    case CommandLine::Action::StartWindow:
        break;
    }
    err << (line.action == CommandLine::Action::UsageError
                ? line.text
                : QStringLiteral("ostrelle: nothing to do without --report\n"));
    err.flush();
    return int(ReportStatus::Unknown);
}

} // namespace ostrelle
