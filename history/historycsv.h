#pragma once

#include "history/historysample.h"

#include <QList>
#include <QString>

class QIODevice;

namespace ostrelle {

class HistoryStore;

// CSV after RFC 4180 in UTF-8, each line made by CsvRecord: one header line, CRLF
// line ends, times in ISO 8601 UTC to the nanosecond, seconds with every digit needed to read the
// same double back.
bool WriteHistoryCsvHeader(QIODevice& device);
bool WriteHistoryCsvRow(QIODevice& device, const HistorySample& sample);
// Header and samples; false when the device refused a write.
bool WriteHistoryCsv(QIODevice& device, const QList<HistorySample>& samples);
// Header and every stored sample of server (of all servers when empty), read as they are written.
bool ExportHistoryCsv(const HistoryStore& store, QIODevice& device, const QString& server = {});

} // namespace ostrelle
