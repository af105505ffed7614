#include "history/historycsv.h"

#include "history/historystatistics.h"
#include "history/historystore.h"
#include "servers/serverformat.h"
#include "timekeeping/ntptime.h"

#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <charconv>

namespace ostrelle {

namespace {

// The shortest fixed-point text that reads back as the same double.
QString seconds(double value)
{
    char buffer[512];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

bool writeLine(QIODevice& device, const QStringList& fields)
{
    const QByteArray line = CsvRecord(fields).toUtf8();
    return device.write(line) == line.size();
}

} // namespace

bool WriteHistoryCsvHeader(QIODevice& device)
{
    return writeLine(device, {QStringLiteral("time_utc"), QStringLiteral("server"), QStringLiteral("outcome"),
                              QStringLiteral("detail"), QStringLiteral("stratum"), QStringLiteral("leap"),
                              QStringLiteral("reference"), QStringLiteral("offset_s"),
                              QStringLiteral("round_trip_s"), QStringLiteral("root_delay_s"),
                              QStringLiteral("root_dispersion_s"), QStringLiteral("address")});
}

bool WriteHistoryCsvRow(QIODevice& device, const HistorySample& s)
{
    QStringList fields = {IsoUtcText(s.time, 9), s.server, PollOutcomeText(s.outcome), s.detail};
    if (s.answered()) {
        fields << QString::number(s.stratum) << QString::number(s.leap)
               << ReferenceText(s.stratum, s.referenceId) << seconds(s.offset) << seconds(s.roundTrip)
               << seconds(s.rootDelay) << seconds(s.rootDispersion);
    } else {
        fields << QString() << QString() << QString() << QString() << QString() << QString() << QString();
    }
    fields << s.address;
    return writeLine(device, fields);
}

bool WriteHistoryCsv(QIODevice& device, const QList<HistorySample>& samples)
{
    if (!WriteHistoryCsvHeader(device))
        return false;
    return std::all_of(samples.begin(), samples.end(),
                       [&device](const HistorySample& s) { return WriteHistoryCsvRow(device, s); });
}

bool ExportHistoryCsv(const HistoryStore& store, QIODevice& device, const QString& server)
{
    if (!WriteHistoryCsvHeader(device))
        return false;
    bool written = true;
    const bool read = store.forEachSample(server, [&](const HistorySample& s) {
        written = WriteHistoryCsvRow(device, s);
        return written;
    });
    return read && written;
}

} // namespace ostrelle
