#pragma once

#include "report/reportoptions.h"
#include "report/reportrow.h"

#include <QString>
#include <QStringList>

namespace ostrelle {

// The whole report in one of the formats, ending in a newline.
QString FormatReport(const Report& report, ReportFormat format);

// A summary line in the style of monitoring plugins, then a line per server.
QString TextReport(const Report& report);
// One object: the overall verdict and a "servers" array with every field of every row.
QString JsonReport(const Report& report);
// A header line, then one record per row.
QString CsvReport(const Report& report);
// The Prometheus text exposition format: gauges with a "server" label.
QString PrometheusReport(const Report& report);

// A label value for the Prometheus text format: backslash, double quote and line feed escaped.
QString PrometheusLabelValue(const QString& value);

} // namespace ostrelle
