#include "report/reportoptions.h"

#include "servers/servername.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHostAddress>
#include <cmath>

namespace ostrelle {

namespace {

const QString ReportName = QStringLiteral("report");
const QString FormatName = QStringLiteral("format");
const QString TimeoutName = QStringLiteral("timeout");
const QString SamplesName = QStringLiteral("samples");
const QString StratumLimitName = QStringLiteral("stratum-limit");
const QString ReferenceAgeLimitName = QStringLiteral("reference-age-limit");
const QString ExporterName = QStringLiteral("exporter");
const QString ListenName = QStringLiteral("listen");
const QString IntervalName = QStringLiteral("interval");

// The plugin's thresholds, named as the plugins of the same family name them.
struct ThresholdOption
{
    const char* shortName;
    const char* longName;
    const char* description;
    ThresholdPair ReportThresholds::*measure;
    std::optional<ThresholdRange> ThresholdPair::*level;
};
const ThresholdOption ThresholdOptions[] = {
    {"w", "warning", "Warning when a server's absolute offset is outside this range (seconds).",
     &ReportThresholds::offset, &ThresholdPair::warning},
    {"c", "critical", "Critical when a server's absolute offset is outside this range (seconds).",
     &ReportThresholds::offset, &ThresholdPair::critical},
    {"j", "jitter-warning", "Warning when a server's jitter is outside this range (seconds).",
     &ReportThresholds::jitter, &ThresholdPair::warning},
    {"k", "jitter-critical", "Critical when a server's jitter is outside this range (seconds).",
     &ReportThresholds::jitter, &ThresholdPair::critical},
    {"W", "stratum-warning", "Warning when a server's stratum is outside this range.",
     &ReportThresholds::stratum, &ThresholdPair::warning},
    {"C", "stratum-critical", "Critical when a server's stratum is outside this range.",
     &ReportThresholds::stratum, &ThresholdPair::critical},
};

bool namesOneOfOurOptions(const QString& argument)
{
    for (const char* letter : {"h", "?", "v", "t"}) {
        if (argument == QLatin1Char('-') + QLatin1String(letter))
            return true;
    }
    for (const ThresholdOption& option : ThresholdOptions) {
        if (argument == QLatin1Char('-') + QLatin1String(option.shortName))
            return true;
    }
    if (!argument.startsWith(QLatin1String("--")))
        return false;
    const QString name = argument.mid(2).section(QLatin1Char('='), 0, 0);
    for (const QString& ours :
         {ReportName, FormatName, TimeoutName, SamplesName, StratumLimitName, ReferenceAgeLimitName,
          ExporterName, ListenName, QStringLiteral("help"), QStringLiteral("version")}) {
        if (name == ours)
            return true;
    }
    for (const ThresholdOption& option : ThresholdOptions) {
        if (name == QLatin1String(option.longName))
            return true;
    }
    return false;
}

std::optional<ReportFormat> formatNamed(const QString& name)
{
    if (name == QLatin1String("text"))
        return ReportFormat::Text;
    if (name == QLatin1String("json"))
        return ReportFormat::Json;
    if (name == QLatin1String("csv"))
        return ReportFormat::Csv;
    if (name == QLatin1String("prometheus"))
        return ReportFormat::Prometheus;
    return std::nullopt;
}

// Qt names the program in the usage line only once an application object exists, and then by the
// path it was started with; the help is printed before one exists, so name it here, as it is typed:
// without the .exe that Windows adds, so that both systems give the same usage line.
QString helpText(const QCommandLineParser& parser, const QString& program)
{
    const QString withoutUsage = parser.helpText().section(QLatin1Char('\n'), 1);
    QString name = QFileInfo(program).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return QStringLiteral(
               "Usage: %1 [--report | --exporter [--listen address:port]] [options] [server...]\n%2")
        .arg(name, withoutUsage);
}

CommandLine usageError(const QString& message)
{
    return {CommandLine::Action::UsageError, {}, QStringLiteral("ostrelle: %1\n").arg(message), {}};
}

// "address:port" or "[address]:port", an address literal or localhost.
std::optional<ExporterOptions> listenAddressOf(const QString& text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || QHostAddress(host).isNull())
        return std::nullopt;
    return ExporterOptions{host, quint16(port), std::nullopt};
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    bool ours = false;
    for (qsizetype i = 1; i < arguments.size() && !ours; ++i)
        ours = namesOneOfOurOptions(arguments.at(i));
    if (!ours)
        return {};

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches NTP time servers; with --report, polls them once and prints the result "
                       "without a window; with --exporter, polls them continuously and serves the last "
                       "pass as Prometheus metrics over HTTP."));
    // Our own help option: Qt's adds --help-all for options that only the window understands.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                        QStringLiteral("Print this help and exit."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Print the version and exit."));
    const QCommandLineOption reportOption(ReportName,
                                          QStringLiteral("Poll once, print the result and exit."));
    const QCommandLineOption formatOption(
        FormatName, QStringLiteral("Output of the report: text, json, csv or prometheus."),
        QStringLiteral("format"), QStringLiteral("text"));
    const QCommandLineOption exporterOption(
        ExporterName,
        QStringLiteral("Poll continuously at the stored interval and serve /metrics over HTTP."));
    const QCommandLineOption listenOption(
        ListenName,
        QStringLiteral("Where the exporter listens (default 127.0.0.1:%1).").arg(DefaultExporterPort),
        QStringLiteral("address:port"));
    const QCommandLineOption intervalOption(
        IntervalName,
        QStringLiteral(
            "Seconds between the exporter's passes, 1 to 86400 (default: the stored poll interval)."),
        QStringLiteral("seconds"));
    const QCommandLineOption timeoutOption(
        {QStringLiteral("t"), TimeoutName},
        QStringLiteral("Seconds each server has for its samples (default 10)."), QStringLiteral("seconds"),
        QStringLiteral("10"));
    const QCommandLineOption samplesOption(
        SamplesName,
        QStringLiteral("Samples per server, 1 to 8 (default 4), 2 s apart; the least delayed one counts."),
        QStringLiteral("count"), QStringLiteral("4"));
    const QCommandLineOption stratumOption(StratumLimitName,
                                           QStringLiteral("A stratum above this (0 to 15) is unhealthy."),
                                           QStringLiteral("stratum"));
    const QCommandLineOption ageOption(
        ReferenceAgeLimitName, QStringLiteral("A reference time older than this many minutes is unhealthy."),
        QStringLiteral("minutes"));
    parser.addOptions({helpOption, versionOption, reportOption, exporterOption, listenOption, intervalOption,
                       formatOption, timeoutOption, samplesOption, stratumOption, ageOption});
    QList<QCommandLineOption> thresholdOptions;
    for (const ThresholdOption& option : ThresholdOptions) {
        thresholdOptions.append(
            QCommandLineOption({QString::fromLatin1(option.shortName), QString::fromLatin1(option.longName)},
                               QString::fromLatin1(option.description), QStringLiteral("range")));
        parser.addOption(thresholdOptions.last());
    }
    parser.addPositionalArgument(QStringLiteral("server"),
                                 QStringLiteral("Servers to poll, as host, host:port, [address]:port or "
                                                "nts://host[:port]; the stored list when none are given."),
                                 QStringLiteral("[server...]"));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        return {CommandLine::Action::ShowHelp, {}, helpText(parser, arguments.first()), {}};
    if (parser.isSet(versionOption))
        return {CommandLine::Action::ShowVersion,
                {},
                QStringLiteral("Brevikon Ostrelle %1\n").arg(OSTRELLE_VERSION),
                {}};
    const bool exporter = parser.isSet(exporterOption);
    if (exporter && parser.isSet(reportOption))
        return usageError(QStringLiteral("--report and --exporter cannot be used together"));
    if (!exporter && !parser.isSet(reportOption))
        return usageError(QStringLiteral("the report's options need --report"));
    if (!exporter && (parser.isSet(listenOption) || parser.isSet(intervalOption)))
        return usageError(QStringLiteral("--listen and --interval need --exporter"));
    if (exporter && parser.isSet(formatOption))
        return usageError(
            QStringLiteral("the exporter serves Prometheus metrics only; --format needs --report"));

    CommandLine result{exporter ? CommandLine::Action::Exporter : CommandLine::Action::Report, {}, {}, {}};
    ReportOptions& options = result.options;
    if (parser.isSet(listenOption)) {
        const std::optional<ExporterOptions> listen = listenAddressOf(parser.value(listenOption));
        if (!listen)
            return usageError(QStringLiteral("'%1' is not an address:port to listen on (port 1 to 65535)")
                                  .arg(parser.value(listenOption)));
        result.exporter = *listen;
    }
    if (parser.isSet(intervalOption)) {
        bool ok = false;
        const int seconds = parser.value(intervalOption).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 86'400)
            return usageError(
                QStringLiteral("the interval must be a whole number of seconds from 1 to 86400, not '%1'")
                    .arg(parser.value(intervalOption)));
        result.exporter.interval = std::chrono::seconds(seconds);
    }

    for (qsizetype i = 0; i < thresholdOptions.size(); ++i) {
        const QCommandLineOption& option = thresholdOptions.at(i);
        if (!parser.isSet(option))
            continue;
        const std::optional<ThresholdRange> range = ParseThresholdRange(parser.value(option));
        if (!range)
            return usageError(QStringLiteral("'%1' is not a threshold range for --%2 (such as 0.5, 10:, ~:5, "
                                             "@1:2)")
                                  .arg(parser.value(option), option.names().last()));
        const ThresholdOption& which = ThresholdOptions[i];
        options.thresholds.*which.measure.*which.level = *range;
    }

    const QString formatText = parser.value(formatOption);
    const std::optional<ReportFormat> format = formatNamed(formatText);
    if (!format)
        return usageError(
            QStringLiteral("unknown format '%1' (text, json, csv or prometheus)").arg(formatText));
    options.format = *format;

    bool ok = false;
    const double timeoutSeconds = parser.value(timeoutOption).toDouble(&ok);
    if (!ok || !std::isfinite(timeoutSeconds) || timeoutSeconds <= 0.0 || timeoutSeconds > 86'400.0)
        return usageError(QStringLiteral("the time-out must be a positive number of seconds, not '%1'")
                              .arg(parser.value(timeoutOption)));
    options.timeout = std::chrono::milliseconds(std::llround(timeoutSeconds * 1000.0));
    const int samples = parser.value(samplesOption).toInt(&ok);
    if (!ok || samples < 1 || samples > MaxReportSamples)
        return usageError(
            QStringLiteral("the number of samples must be a whole number from 1 to %1, not '%2'")
                .arg(MaxReportSamples)
                .arg(parser.value(samplesOption)));
    options.samples = samples;

    if (parser.isSet(stratumOption)) {
        const int stratum = parser.value(stratumOption).toInt(&ok);
        if (!ok || stratum < 0 || stratum > 15)
            return usageError(
                QStringLiteral("the stratum limit must be a whole number from 0 to 15, not '%1'")
                    .arg(parser.value(stratumOption)));
        options.stratumLimit = stratum;
    }
    if (parser.isSet(ageOption)) {
        const int minutes = parser.value(ageOption).toInt(&ok);
        if (!ok || minutes < 0)
            return usageError(
                QStringLiteral("the reference age limit must be a whole number of minutes, not '%1'")
                    .arg(parser.value(ageOption)));
        options.referenceAgeLimit = std::chrono::minutes(minutes);
    }

    for (const QString& server : parser.positionalArguments()) {
        if (server.trimmed().isEmpty())
            return usageError(QStringLiteral("empty server name"));
        if (CheckServerName(server.trimmed()) != ServerNameCheck::Usable)
            return usageError(
                QStringLiteral("'%1' is not a host, host:port, [address]:port or nts://host[:port]")
                    .arg(server));
        options.servers.append(server.trimmed());
    }
    return result;
}

} // namespace ostrelle
