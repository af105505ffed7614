#include "report/runreport.h"

#include "report/reportformat.h"

#include <QTextStream>

namespace ostrelle {

int RunReport(const ReportOptions& options, ReportSource& source, QTextStream& out)
{
    const Report report = source.collect(options);
    out << FormatReport(report, options.format);
    out.flush();
    return int(StatusOf(report));
}

} // namespace ostrelle
