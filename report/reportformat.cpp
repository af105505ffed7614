#include "report/reportformat.h"

#include "servers/serverformat.h"
#include "timekeeping/ntptime.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

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

// A kiss-o'-death is refused here: the refusal names its code.
QString outcomeName(PollOutcome outcome)
{
    return PollOutcomeText(outcome == PollOutcome::KissOfDeath ? PollOutcome::Refused : outcome);
}

bool isRefused(const ReportRow& row)
{
    return row.outcome == PollOutcome::Refused || row.outcome == PollOutcome::KissOfDeath;
}

// Only a truechimer or a falseticker has been told right or wrong.
bool isJudged(AgreementVerdict verdict)
{
    return verdict == AgreementVerdict::Truechimer || verdict == AgreementVerdict::Falseticker;
}

QString verdictName(AgreementVerdict verdict)
{
    switch (verdict) {
    case AgreementVerdict::Truechimer:
        return QStringLiteral("truechimer");
    case AgreementVerdict::Falseticker:
        return QStringLiteral("falseticker");
    case AgreementVerdict::Undecided:
    case AgreementVerdict::TooDistant:
        break;
    }
    return QStringLiteral("not judged");
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

// How far beyond the thresholds the answered rows are: one count per level.
struct ThresholdCounts
{
    qsizetype warning = 0;
    qsizetype critical = 0;
};

ThresholdCounts thresholdCounts(const Report& report)
{
    ThresholdCounts counts;
    for (const ReportRow& row : report.rows) {
        const ReportStatus status = ThresholdStatusOf(row, report.thresholds);
        counts.critical += status == ReportStatus::Critical ? 1 : 0;
        counts.warning += status == ReportStatus::Warning ? 1 : 0;
    }
    return counts;
}

QString serversText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 server") : QStringLiteral("%1 servers").arg(count);
}

// A perfdata label: quoted, so that any server name survives; the quote and the equals sign are the
// two characters the format cannot carry inside one.
QString perfLabel(const QString& measure, const ReportRow& row)
{
    QString name = row.address.isEmpty() ? row.server : row.server + QLatin1Char('@') + row.address;
    for (QChar& c : name) {
        if (c == QLatin1Char('\'') || c == QLatin1Char('=') || c < QLatin1Char(' '))
            c = QLatin1Char('_');
    }
    return QStringLiteral("'%1_%2'").arg(measure, name);
}

// label=value[unit];warn;crit;min;max. Values in plain decimals, as the format has no exponent;
// "U" when there is no value.
QString perfItem(const QString& label, std::optional<double> value, int decimals, const QString& unit,
                 const ThresholdPair& thresholds = {}, const QString& minimum = {},
                 const QString& maximum = {})
{
    const QString number = value ? QString::number(*value, 'f', decimals) + unit : QStringLiteral("U");
    return QStringLiteral("%1=%2;%3;%4;%5;%6")
        .arg(label, number, thresholds.warning ? thresholds.warning->text : QString(),
             thresholds.critical ? thresholds.critical->text : QString(), minimum, maximum);
}

QStringList serverPerfdata(const ReportRow& row, const ReportThresholds& thresholds)
{
    const bool answered = row.outcome == PollOutcome::Answered;
    const auto ifAnswered = [answered](double value) {
        return answered ? std::optional(value) : std::nullopt;
    };
    QStringList items{
        perfItem(perfLabel(QStringLiteral("offset"), row), ifAnswered(row.offset.count()), 9,
                 QStringLiteral("s"), thresholds.offset),
        perfItem(perfLabel(QStringLiteral("jitter"), row), ifAnswered(row.jitter.count()), 9,
                 QStringLiteral("s"), thresholds.jitter, QStringLiteral("0")),
        perfItem(perfLabel(QStringLiteral("stratum"), row), ifAnswered(row.stratum), 0, {},
                 thresholds.stratum, QStringLiteral("0"), QStringLiteral("16")),
        perfItem(perfLabel(QStringLiteral("rtt"), row), ifAnswered(row.roundTrip.count()), 9,
                 QStringLiteral("s"), {}, QStringLiteral("0")),
    };
    if (row.nts)
        items << perfItem(perfLabel(QStringLiteral("nts"), row), row.nts->authenticated ? 1 : 0, 0, {}, {},
                          QStringLiteral("0"), QStringLiteral("1"))
              << perfItem(perfLabel(QStringLiteral("cookies"), row), row.nts->cookies, 0, {}, {},
                          QStringLiteral("0"));
    return items;
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
    const ThresholdCounts beyond = thresholdCounts(report);
    if (beyond.critical > 0)
        line += QStringLiteral(", %1 beyond critical").arg(serversText(beyond.critical));
    if (beyond.warning > 0)
        line += QStringLiteral(", %1 beyond warning").arg(serversText(beyond.warning));
    const ReportVerdict& verdict = report.verdict;
    if (verdict.bestServer)
        line += QStringLiteral(", best %1 offset %2 s")
                    .arg(serverText(*verdict.bestServer, verdict.bestAddress),
                         signedSeconds(verdict.bestOffset.count()));
    else
        line += QStringLiteral(", no usable server");
    line += QStringLiteral(" |");
    if (verdict.bestServer) {
        const ThresholdPair& offset = report.thresholds.offset;
        line += QStringLiteral(" offset=%1s").arg(QString::number(verdict.bestOffset.count(), 'f', 6));
        if (offset.warning || offset.critical)
            line += QStringLiteral(";%1;%2").arg(offset.warning ? offset.warning->text : QString(),
                                                 offset.critical ? offset.critical->text : QString());
    }
    line += QStringLiteral(" healthy=%1;;;0;%2\n").arg(usable).arg(total);
    return line;
}

// Which measures of an answered row are beyond which threshold, in the words of the status line.
QStringList thresholdNotes(const ReportRow& row, const ReportThresholds& thresholds)
{
    if (row.outcome != PollOutcome::Answered)
        return {};
    const struct
    {
        const char* name;
        double value;
        const ThresholdPair& pair;
    } measures[] = {{"offset", std::abs(row.offset.count()), thresholds.offset},
                    {"jitter", row.jitter.count(), thresholds.jitter},
                    {"stratum", double(row.stratum), thresholds.stratum}};
    QStringList notes;
    for (const auto& measure : measures) {
        if (measure.pair.critical && measure.pair.critical->alerts(measure.value))
            notes << QStringLiteral("%1 beyond critical %2")
                         .arg(QLatin1String(measure.name), measure.pair.critical->text);
        else if (measure.pair.warning && measure.pair.warning->alerts(measure.value))
            notes << QStringLiteral("%1 beyond warning %2")
                         .arg(QLatin1String(measure.name), measure.pair.warning->text);
    }
    return notes;
}

QString ntsText(const ReportNts& nts)
{
    QString text =
        nts.authenticated ? QStringLiteral("NTS authenticated") : QStringLiteral("NTS not authenticated");
    text += QStringLiteral(", %1 cookies").arg(nts.cookies);
    if (!nts.failure.isEmpty())
        text += QStringLiteral(" (%1)").arg(nts.failure);
    return text;
}

QString serverLine(const ReportRow& row, const ReportThresholds& thresholds)
{
    QStringList parts{serverText(row.server, row.address)};
    switch (row.outcome) {
    case PollOutcome::TimedOut:
        parts << QStringLiteral("timed out");
        break;
    case PollOutcome::Refused:
    case PollOutcome::KissOfDeath:
        parts << QStringLiteral("refused: %1").arg(row.refusal);
        break;
    case PollOutcome::Answered:
        parts << (IsUsable(row) ? QStringLiteral("healthy") : QStringLiteral("unhealthy"))
              << QStringLiteral("stratum %1").arg(row.stratum)
              << QStringLiteral("reference %1").arg(row.referenceId)
              << QStringLiteral("offset %1 s").arg(signedSeconds(row.offset.count()))
              << QStringLiteral("round trip %1 s").arg(QString::number(row.roundTrip.count(), 'f', 6));
        if (row.requests > 1)
            parts << QStringLiteral("jitter %1 s").arg(QString::number(row.jitter.count(), 'f', 6))
                  << QStringLiteral("%1 of %2 samples").arg(row.samples).arg(row.requests);
        if (isJudged(row.verdict))
            parts << verdictName(row.verdict);
        parts << thresholdNotes(row, thresholds);
        break;
    }
    if (row.nts)
        parts << ntsText(*row.nts);
    if (!row.reasons.isEmpty())
        parts << QStringLiteral("(%1)").arg(row.reasons.join(QStringLiteral("; ")));
    // A bar would start the perfdata for a monitoring system.
    return parts.join(QStringLiteral(", ")).replace(QLatin1Char('|'), QLatin1Char('/'));
}

QJsonObject jsonRow(const ReportRow& row)
{
    const bool answered = row.outcome == PollOutcome::Answered;
    const auto ifAnswered = [answered](const QJsonValue& value) { return answered ? value : QJsonValue(); };
    return {
        {QStringLiteral("server"), row.server},
        {QStringLiteral("address"), row.address.isEmpty() ? QJsonValue() : QJsonValue(row.address)},
        {QStringLiteral("outcome"), outcomeName(row.outcome)},
        {QStringLiteral("refusal"), isRefused(row) ? QJsonValue(row.refusal) : QJsonValue()},
        {QStringLiteral("leap"), ifAnswered(row.leap)},
        {QStringLiteral("version"), ifAnswered(row.version)},
        {QStringLiteral("stratum"), ifAnswered(row.stratum)},
        {QStringLiteral("reference_id"), ifAnswered(row.referenceId)},
        {QStringLiteral("reference_time"),
         answered && row.referenceTime ? QJsonValue(IsoUtcText(*row.referenceTime, 3)) : QJsonValue()},
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
        {QStringLiteral("answered_at"),
         row.answeredAt ? QJsonValue(IsoUtcText(*row.answeredAt, 3)) : QJsonValue()},
        {QStringLiteral("nts"),
         row.nts ? QJsonValue(
                       QJsonObject{{QStringLiteral("authenticated"), row.nts->authenticated},
                                   {QStringLiteral("failure"),
                                    row.nts->failure.isEmpty() ? QJsonValue() : QJsonValue(row.nts->failure)},
                                   {QStringLiteral("cookies"), row.nts->cookies}})
                 : QJsonValue()},
    };
}

QStringList csvFields(const ReportRow& row)
{
    const bool answered = row.outcome == PollOutcome::Answered;
    const auto ifAnswered = [answered](const QString& text) { return answered ? text : QString(); };
    return {row.server,
            outcomeName(row.outcome),
            isRefused(row) ? row.refusal : QString(),
            ifAnswered(QString::number(row.leap)),
            ifAnswered(QString::number(row.version)),
            ifAnswered(QString::number(row.stratum)),
            ifAnswered(row.referenceId),
            answered && row.referenceTime ? IsoUtcText(*row.referenceTime, 3) : QString(),
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
            row.address,
            row.nts ? (row.nts->authenticated ? QStringLiteral("true") : QStringLiteral("false")) : QString(),
            row.nts ? row.nts->failure : QString(),
            row.nts ? QString::number(row.nts->cookies) : QString()};
}

} // namespace

bool IsUsable(const ReportRow& row)
{
    return row.outcome == PollOutcome::Answered && row.healthy &&
           row.verdict != AgreementVerdict::Falseticker;
}

ReportStatus WorseStatus(ReportStatus a, ReportStatus b)
{
    const auto rank = [](ReportStatus status) {
        switch (status) {
        case ReportStatus::Ok:
            return 0;
        case ReportStatus::Unknown:
            return 1;
        case ReportStatus::Warning:
            return 2;
        case ReportStatus::Critical:
            return 3;
        }
        return 1;
    };
    return rank(a) >= rank(b) ? a : b;
}

ReportStatus ThresholdStatusOf(const ReportRow& row, const ReportThresholds& thresholds)
{
    if (row.outcome != PollOutcome::Answered)
        return ReportStatus::Ok;
    // The offset's sign says which way the clock is off; a limit is on how far.
    const std::pair<double, const ThresholdPair&> measures[] = {
        {std::abs(row.offset.count()), thresholds.offset},
        {row.jitter.count(), thresholds.jitter},
        {double(row.stratum), thresholds.stratum}};
    ReportStatus status = ReportStatus::Ok;
    for (const auto& [value, pair] : measures) {
        if (pair.critical && pair.critical->alerts(value))
            return ReportStatus::Critical;
        if (pair.warning && pair.warning->alerts(value))
            status = ReportStatus::Warning;
    }
    return status;
}

ReportStatus StatusOf(const Report& report)
{
    const qsizetype usable = usableCount(report);
    ReportStatus status = ReportStatus::Ok;
    if (usable == 0 || report.verdict.agreement == ReportAgreement::NoAgreement)
        status = ReportStatus::Critical;
    else if (usable != report.rows.size())
        status = ReportStatus::Warning;
    for (const ReportRow& row : report.rows)
        status = WorseStatus(status, ThresholdStatusOf(row, report.thresholds));
    return status;
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
    QStringList perfdata;
    for (const ReportRow& row : report.rows)
        perfdata << serverPerfdata(row, report.thresholds);
    for (qsizetype i = 0; i < report.rows.size(); ++i) {
        text += serverLine(report.rows.at(i), report.thresholds);
        // The plugins' long output: every server's perfdata after a bar on the last line of text,
        // then one item a line.
        if (i == report.rows.size() - 1 && !perfdata.isEmpty())
            text += QStringLiteral(" | ") + perfdata.join(QLatin1Char('\n'));
        text += QLatin1Char('\n');
    }
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
    QString text = CsvRecord({QStringLiteral("server"),       QStringLiteral("outcome"),
                              QStringLiteral("refusal"),      QStringLiteral("leap"),
                              QStringLiteral("version"),      QStringLiteral("stratum"),
                              QStringLiteral("reference_id"), QStringLiteral("reference_time"),
                              QStringLiteral("round_trip"),   QStringLiteral("offset"),
                              QStringLiteral("root_delay"),   QStringLiteral("root_dispersion"),
                              QStringLiteral("healthy"),      QStringLiteral("reasons"),
                              QStringLiteral("verdict"),      QStringLiteral("jitter"),
                              QStringLiteral("samples"),      QStringLiteral("requests"),
                              QStringLiteral("address"),      QStringLiteral("nts_authenticated"),
                              QStringLiteral("nts_failure"),  QStringLiteral("nts_cookies")});
    for (const ReportRow& row : report.rows)
        text += CsvRecord(csvFields(row));
    return text;
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
    using Sample = std::optional<double>;
    const auto ifAnswered = [](const ReportRow& r, double value) -> Sample {
        return r.outcome == PollOutcome::Answered ? Sample(value) : std::nullopt;
    };
    struct Gauge
    {
        const char* name;
        const char* help;
        // The sample of one row, or nothing when the row has no such value.
        std::function<Sample(const ReportRow&)> sample;
        // For an _info metric: the name of the label that carries the text, and the text.
        const char* textLabel = nullptr;
        std::function<QString(const ReportRow&)> text = {};
    };
    const QString bestServer = report.verdict.bestServer.value_or(QString());
    const Gauge gauges[] = {
        {"ostrelle_server_up", "1 when the server answered in the last pass, else 0.",
         [](const ReportRow& r) -> Sample { return r.outcome == PollOutcome::Answered ? 1 : 0; }},
        {"ostrelle_server_healthy",
         "1 when the server's row is not red (answered, within the limits, agreeing), else 0.",
         [](const ReportRow& r) -> Sample { return IsUsable(r) ? 1 : 0; }},
        {"ostrelle_server_agreeing",
         "1 when the server's time agrees with the majority, 0 for a falseticker; absent when not judged.",
         [](const ReportRow& r) -> Sample {
             if (!isJudged(r.verdict))
                 return std::nullopt;
             return r.verdict == AgreementVerdict::Truechimer ? 1 : 0;
         }},
        {"ostrelle_server_chosen", "1 for the server the clock would be set from, else 0.",
         [&](const ReportRow& r) -> Sample {
             return report.verdict.bestServer && r.server == bestServer &&
                            r.address == report.verdict.bestAddress
                        ? 1
                        : 0;
         }},
        {"ostrelle_server_offset_seconds",
         "Offset of the local clock from the server; positive when it is behind.",
         [&](const ReportRow& r) { return ifAnswered(r, r.offset.count()); }},
        {"ostrelle_server_round_trip_seconds", "Round-trip delay of the exchange that counts.",
         [&](const ReportRow& r) { return ifAnswered(r, r.roundTrip.count()); }},
        {"ostrelle_server_root_delay_seconds", "Round-trip delay from the server to its reference clock.",
         [&](const ReportRow& r) { return ifAnswered(r, r.rootDelay.count()); }},
        {"ostrelle_server_root_dispersion_seconds", "Error the server announces against its reference clock.",
         [&](const ReportRow& r) { return ifAnswered(r, r.rootDispersion.count()); }},
        {"ostrelle_server_root_distance_seconds",
         "Bound on the server's error: half its root delay plus its root dispersion.",
         [&](const ReportRow& r) {
             return ifAnswered(r, r.rootDelay.count() / 2 + r.rootDispersion.count());
         }},
        {"ostrelle_server_jitter_seconds",
         "Spread of the server's sample offsets around the one that counts.",
         [&](const ReportRow& r) { return ifAnswered(r, r.jitter.count()); }},
        {"ostrelle_server_stratum", "Stratum the server announced.",
         [&](const ReportRow& r) { return ifAnswered(r, r.stratum); }},
        {"ostrelle_server_leap",
         "Leap indicator the server announced: 0 none, 1 insert, 2 delete, 3 unsynchronised.",
         [&](const ReportRow& r) { return ifAnswered(r, r.leap); }},
        {"ostrelle_server_last_answer_timestamp_seconds",
         "When the server last answered, in seconds since 1970.",
         [](const ReportRow& r) -> Sample {
             if (!r.answeredAt)
                 return std::nullopt;
             return std::chrono::duration<double>(r.answeredAt->time_since_epoch()).count();
         }},
        {"ostrelle_server_reference_info",
         "The reference the server announced: a clock's code or an address.",
         [&](const ReportRow& r) { return ifAnswered(r, 1); }, "reference_id",
         [](const ReportRow& r) { return r.referenceId; }},
        {"ostrelle_server_nts_authenticated",
         "For nts:// servers: 1 when the answer was authenticated, else 0.",
         [](const ReportRow& r) -> Sample {
             if (!r.nts)
                 return std::nullopt;
             return r.nts->authenticated ? 1 : 0;
         }},
        {"ostrelle_server_nts_cookies",
         "For nts:// servers: cookies left before a new key exchange is needed.",
         [](const ReportRow& r) -> Sample {
             if (!r.nts)
                 return std::nullopt;
             return r.nts->cookies;
         }},
        {"ostrelle_server_nts_failure_info",
         "For nts:// servers that failed: why the key exchange or the check failed.",
         [](const ReportRow& r) -> Sample {
             if (!r.nts || r.nts->failure.isEmpty())
                 return std::nullopt;
             return 1;
         },
         "reason", [](const ReportRow& r) { return r.nts ? r.nts->failure : QString(); }},
    };

    QString text;
    for (const Gauge& gauge : gauges) {
        const QString name = QString::fromLatin1(gauge.name);
        text += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(name, QString::fromLatin1(gauge.help));
        for (const ReportRow& row : report.rows) {
            if (const Sample value = gauge.sample(row)) {
                // The address only where there is one, so that a literal's series stay as they were.
                QString labels = QStringLiteral("server=\"%1\"").arg(PrometheusLabelValue(row.server));
                if (!row.address.isEmpty())
                    labels += QStringLiteral(",address=\"%1\"").arg(PrometheusLabelValue(row.address));
                if (gauge.textLabel)
                    labels += QStringLiteral(",%1=\"%2\"")
                                  .arg(QLatin1String(gauge.textLabel), PrometheusLabelValue(gauge.text(row)));
                text += QStringLiteral("%1{%2} %3\n").arg(name, labels, fullPrecision(*value));
            }
        }
    }
    text +=
        QStringLiteral("# HELP ostrelle_servers_agree 1 when the answering servers agree on the time, 0 when "
                       "no majority does; absent when none could be compared.\n"
                       "# TYPE ostrelle_servers_agree gauge\n");
    if (report.verdict.agreement != ReportAgreement::NotChecked)
        text += QStringLiteral("ostrelle_servers_agree %1\n")
                    .arg(report.verdict.agreement == ReportAgreement::Agreed ? 1 : 0);
    text +=
        QStringLiteral("# HELP ostrelle_status What the monitoring plugin would exit with: 0 OK, 1 warning, "
                       "2 critical, 3 unknown.\n"
                       "# TYPE ostrelle_status gauge\n"
                       "ostrelle_status %1\n")
            .arg(int(StatusOf(report)));
    return text;
}

} // namespace ostrelle
