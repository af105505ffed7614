#include "report/reportformat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>

namespace ostrelle {

namespace {

// Every digit the double holds, and no more: what a reader needs to get the same value back.
QString fullPrecision(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString signedSeconds(double seconds)
{
    return (seconds >= 0.0 ? QStringLiteral("+") : QString()) + QString::number(seconds, 'f', 6);
}

QString isoUtc(const ReportTime& time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toUTC().toString(Qt::ISODateWithMs);
}

QString outcomeName(ReportOutcome outcome)
{
    switch (outcome) {
    case ReportOutcome::Answered:
        return QStringLiteral("answered");
    case ReportOutcome::TimedOut:
        return QStringLiteral("timed out");
    case ReportOutcome::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

QString verdictName(RowVerdict verdict)
{
    switch (verdict) {
    case RowVerdict::NotJudged:
        return QStringLiteral("not judged");
    case RowVerdict::Truechimer:
        return QStringLiteral("truechimer");
    case RowVerdict::Falseticker:
        return QStringLiteral("falseticker");
    }
    return {};
}

QString agreementName(ReportAgreement agreement)
{
    switch (agreement) {
    case ReportAgreement::NotChecked:
        return QStringLiteral("not checked");
    case ReportAgreement::Agreed:
        return QStringLiteral("agreed");
    case ReportAgreement::NoAgreement:
        return QStringLiteral("no agreement");
    }
    return {};
}

QString statusName(ReportStatus status)
{
    switch (status) {
    case ReportStatus::Ok:
        return QStringLiteral("OK");
    case ReportStatus::Warning:
        return QStringLiteral("WARNING");
    case ReportStatus::Critical:
        return QStringLiteral("CRITICAL");
    case ReportStatus::Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

qsizetype usableCount(const Report& report)
{
    return std::count_if(report.rows.cbegin(), report.rows.cend(), IsUsable);
}

// A row's server as the text report names it: a name with the address it was polled at.
QString serverText(const QString& server, const QString& address)
{
    return address.isEmpty() ? server : QStringLiteral("%1 (%2)").arg(server, address);
}

QString summaryLine(const Report& report)
{
    const ReportStatus status = StatusOf(report);
    const qsizetype usable = usableCount(report);
    const qsizetype total = report.rows.size();
    QString line =
        QStringLiteral("NTP %1: %2 of %3 servers healthy").arg(statusName(status)).arg(usable).arg(total);
    if (report.verdict.agreement == ReportAgreement::NoAgreement)
        line += QStringLiteral(", the servers do not agree");
    const ReportVerdict& verdict = report.verdict;
    if (verdict.bestServer)
        line += QStringLiteral(", best %1 offset %2 s")
                    .arg(serverText(*verdict.bestServer, verdict.bestAddress),
                         signedSeconds(verdict.bestOffset.count()));
    else
        line += QStringLiteral(", no usable server");
    line += QStringLiteral(" |");
    if (verdict.bestServer)
        line += QStringLiteral(" offset=%1s").arg(QString::number(verdict.bestOffset.count(), 'f', 6));
    line += QStringLiteral(" healthy=%1;;;0;%2\n").arg(usable).arg(total);
    return line;
}

QString serverLine(const ReportRow& row)
{
    QStringList parts{serverText(row.server, row.address)};
    switch (row.outcome) {
    case ReportOutcome::TimedOut:
        parts << QStringLiteral("timed out");
        break;
    case ReportOutcome::Refused:
        parts << QStringLiteral("refused: %1").arg(row.refusal);
        break;
    case ReportOutcome::Answered:
        parts << (IsUsable(row) ? QStringLiteral("healthy") : QStringLiteral("unhealthy"))
              << QStringLiteral("stratum %1").arg(row.stratum)
              << QStringLiteral("reference %1").arg(row.referenceId)
              << QStringLiteral("offset %1 s").arg(signedSeconds(row.offset.count()))
              << QStringLiteral("round trip %1 s").arg(QString::number(row.roundTrip.count(), 'f', 6));
        if (row.requests > 1)
            parts << QStringLiteral("jitter %1 s").arg(QString::number(row.jitter.count(), 'f', 6))
                  << QStringLiteral("%1 of %2 samples").arg(row.samples).arg(row.requests);
        if (row.verdict != RowVerdict::NotJudged)
            parts << verdictName(row.verdict);
        break;
    }
    if (!row.reasons.isEmpty())
        parts << QStringLiteral("(%1)").arg(row.reasons.join(QStringLiteral("; ")));
    return parts.join(QStringLiteral(", ")) + QLatin1Char('\n');
}

QJsonObject jsonRow(const ReportRow& row)
{
    const bool answered = row.outcome == ReportOutcome::Answered;
    const auto ifAnswered = [answered](const QJsonValue& value) { return answered ? value : QJsonValue(); };
    return {
        {QStringLiteral("server"), row.server},
        {QStringLiteral("address"), row.address.isEmpty() ? QJsonValue() : QJsonValue(row.address)},
        {QStringLiteral("outcome"), outcomeName(row.outcome)},
        {QStringLiteral("refusal"),
         row.outcome == ReportOutcome::Refused ? QJsonValue(row.refusal) : QJsonValue()},
        {QStringLiteral("leap"), ifAnswered(row.leap)},
        {QStringLiteral("version"), ifAnswered(row.version)},
        {QStringLiteral("stratum"), ifAnswered(row.stratum)},
        {QStringLiteral("reference_id"), ifAnswered(row.referenceId)},
        {QStringLiteral("reference_time"),
         answered && row.referenceTime ? QJsonValue(isoUtc(*row.referenceTime)) : QJsonValue()},
        {QStringLiteral("round_trip"), ifAnswered(row.roundTrip.count())},
        {QStringLiteral("offset"), ifAnswered(row.offset.count())},
        {QStringLiteral("root_delay"), ifAnswered(row.rootDelay.count())},
        {QStringLiteral("root_dispersion"), ifAnswered(row.rootDispersion.count())},
        {QStringLiteral("jitter"), ifAnswered(row.jitter.count())},
        {QStringLiteral("samples"), row.samples},
        {QStringLiteral("requests"), row.requests},
        {QStringLiteral("healthy"), IsUsable(row)},
        {QStringLiteral("reasons"), QJsonArray::fromStringList(row.reasons)},
        {QStringLiteral("verdict"), verdictName(row.verdict)},
    };
}

QStringList csvFields(const ReportRow& row)
{
    const bool answered = row.outcome == ReportOutcome::Answered;
    const auto ifAnswered = [answered](const QString& text) { return answered ? text : QString(); };
    return {row.server,
            outcomeName(row.outcome),
            row.outcome == ReportOutcome::Refused ? row.refusal : QString(),
            ifAnswered(QString::number(row.leap)),
            ifAnswered(QString::number(row.version)),
            ifAnswered(QString::number(row.stratum)),
            ifAnswered(row.referenceId),
            answered && row.referenceTime ? isoUtc(*row.referenceTime) : QString(),
            ifAnswered(fullPrecision(row.roundTrip.count())),
            ifAnswered(fullPrecision(row.offset.count())),
            ifAnswered(fullPrecision(row.rootDelay.count())),
            ifAnswered(fullPrecision(row.rootDispersion.count())),
            IsUsable(row) ? QStringLiteral("true") : QStringLiteral("false"),
            row.reasons.join(QStringLiteral("; ")),
            verdictName(row.verdict),
            ifAnswered(fullPrecision(row.jitter.count())),
            QString::number(row.samples),
            QString::number(row.requests),
            row.address};
}

} // namespace

bool IsUsable(const ReportRow& row)
{
    return row.outcome == ReportOutcome::Answered && row.healthy && row.verdict != RowVerdict::Falseticker;
}

ReportStatus StatusOf(const Report& report)
{
    const qsizetype usable = usableCount(report);
    if (usable == 0 || report.verdict.agreement == ReportAgreement::NoAgreement)
        return ReportStatus::Critical;
    return usable == report.rows.size() ? ReportStatus::Ok : ReportStatus::Warning;
}

QString FormatReport(const Report& report, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Text:
        return TextReport(report);
    case ReportFormat::Json:
        return JsonReport(report);
    case ReportFormat::Csv:
        return CsvReport(report);
    case ReportFormat::Prometheus:
        return PrometheusReport(report);
    }
    return {};
}

QString TextReport(const Report& report)
{
    QString text = summaryLine(report);
    for (const ReportRow& row : report.rows)
        text += serverLine(row);
    return text;
}

QString JsonReport(const Report& report)
{
    QJsonArray servers;
    for (const ReportRow& row : report.rows)
        servers.append(jsonRow(row));
    const ReportStatus status = StatusOf(report);
    const ReportVerdict& verdict = report.verdict;
    const QJsonValue best =
        verdict.bestServer
            ? QJsonValue(QJsonObject{{QStringLiteral("server"), *verdict.bestServer},
                                     {QStringLiteral("address"), verdict.bestAddress.isEmpty()
                                                                     ? QJsonValue()
                                                                     : QJsonValue(verdict.bestAddress)},
                                     {QStringLiteral("offset"), verdict.bestOffset.count()}})
            : QJsonValue();
    const QJsonObject object{
        {QStringLiteral("status"), statusName(status)},
        {QStringLiteral("exit_status"), int(status)},
        {QStringLiteral("healthy"), qint64(usableCount(report))},
        {QStringLiteral("total"), qint64(report.rows.size())},
        {QStringLiteral("best"), best},
        {QStringLiteral("agreement"), agreementName(verdict.agreement)},
        {QStringLiteral("servers"), servers},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QString CsvReport(const Report& report)
{
    QString text =
        CsvRecord({QStringLiteral("server"), QStringLiteral("outcome"), QStringLiteral("refusal"),
                   QStringLiteral("leap"), QStringLiteral("version"), QStringLiteral("stratum"),
                   QStringLiteral("reference_id"), QStringLiteral("reference_time"),
                   QStringLiteral("round_trip"), QStringLiteral("offset"), QStringLiteral("root_delay"),
                   QStringLiteral("root_dispersion"), QStringLiteral("healthy"), QStringLiteral("reasons"),
                   QStringLiteral("verdict"), QStringLiteral("jitter"), QStringLiteral("samples"),
                   QStringLiteral("requests"), QStringLiteral("address")});
    for (const ReportRow& row : report.rows)
        text += CsvRecord(csvFields(row));
    return text;
}

QString CsvRecord(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        const bool needsQuotes = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                                 field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
        if (needsQuotes) {
            QString inner = field;
            quoted << QLatin1Char('"') + inner.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                          QLatin1Char('"');
        } else {
            quoted << field;
        }
    }
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString PrometheusLabelValue(const QString& value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return escaped;
}

QString PrometheusReport(const Report& report)
{
    struct Gauge
    {
        const char* name;
        const char* help;
        // The sample of one row, or nothing when the row has no such value.
        std::optional<double> (*sample)(const ReportRow&);
    };
    static const Gauge gauges[] = {
        {"ostrelle_server_up", "1 when the server answered the request, else 0.",
         [](const ReportRow& r) -> std::optional<double> {
             return r.outcome == ReportOutcome::Answered ? 1 : 0;
         }},
        {"ostrelle_server_healthy", "1 when the server's row is not red, else 0.",
         [](const ReportRow& r) -> std::optional<double> { return IsUsable(r) ? 1 : 0; }},
        {"ostrelle_server_offset_seconds", "Offset of the local clock from the server; positive when behind.",
         [](const ReportRow& r) -> std::optional<double> {
             if (r.outcome != ReportOutcome::Answered)
                 return std::nullopt;
             return r.offset.count();
         }},
        {"ostrelle_server_round_trip_seconds", "Round-trip delay of the request.",
         [](const ReportRow& r) -> std::optional<double> {
             if (r.outcome != ReportOutcome::Answered)
                 return std::nullopt;
             return r.roundTrip.count();
         }},
        {"ostrelle_server_jitter_seconds",
         "Spread of the server's sample offsets around the one that counts.",
         [](const ReportRow& r) -> std::optional<double> {
             if (r.outcome != ReportOutcome::Answered)
                 return std::nullopt;
             return r.jitter.count();
         }},
        {"ostrelle_server_stratum", "Stratum the server announced.",
         [](const ReportRow& r) -> std::optional<double> {
             if (r.outcome != ReportOutcome::Answered)
                 return std::nullopt;
             return r.stratum;
         }},
        {"ostrelle_server_truechimer", "1 when the server agrees with the others, 0 for a falseticker.",
         [](const ReportRow& r) -> std::optional<double> {
             if (r.verdict == RowVerdict::NotJudged)
                 return std::nullopt;
             return r.verdict == RowVerdict::Truechimer ? 1 : 0;
         }},
    };

    QString text;
    for (const Gauge& gauge : gauges) {
        const QString name = QString::fromLatin1(gauge.name);
        text += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(name, QString::fromLatin1(gauge.help));
        for (const ReportRow& row : report.rows) {
            if (const std::optional<double> value = gauge.sample(row)) {
                // The address only where there is one, so that a literal's series stay as they were.
                const QString address =
                    row.address.isEmpty()
                        ? QString()
                        : QStringLiteral(",address=\"%1\"").arg(PrometheusLabelValue(row.address));
                text += QStringLiteral("%1{server=\"%2\"%3} %4\n")
                            .arg(name, PrometheusLabelValue(row.server), address, fullPrecision(*value));
            }
        }
    }
    return text;
}

} // namespace ostrelle
