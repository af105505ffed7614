#include "history/historycsv.h"

#include "history/historystatistics.h"
#include "history/historystore.h"
#include "report/reportformat.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <charconv>

namespace ostrelle {

namespace {

QString isoTime(HistoryTime time)
{
    using namespace std::chrono;
    const auto ns = time.time_since_epoch().count();
    qint64 seconds = ns / 1000000000;
    qint64 fraction = ns % 1000000000;
    if (fraction < 0) {
        fraction += 1000000000;
        --seconds;
    }
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
           QStringLiteral("%1Z").arg(fraction, 9, 10, QLatin1Char('0'));
}

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
    QStringList fields = {isoTime(s.time), s.server, PollOutcomeText(s.outcome), s.detail};
    if (s.answered()) {
        fields << QString::number(s.stratum) << QString::number(s.leap) << HistoryReferenceText(s)
               << seconds(s.offset) << seconds(s.roundTrip) << seconds(s.rootDelay)
               << seconds(s.rootDispersion);
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
