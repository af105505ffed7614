#include "report/runreport.h"

#include <QTextStream>

namespace ostrelle {

// A toolchain without Qt HTTP Server (the Windows cross build) builds everything but the exporter.
int RunExporter(const CommandLine&, ReportSource&, QTextStream& err)
{
    err << QStringLiteral(
        "ostrelle: the exporter is not available in this build (made without Qt HTTP Server)\n");
    err.flush();
    return int(ReportStatus::Unknown);
}

} // namespace ostrelle
