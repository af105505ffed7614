#include "report/reportoptions.h"

#include "servers/servername.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cmath>

namespace ostrelle {

namespace {

const QString ReportName = QStringLiteral("report");
const QString FormatName = QStringLiteral("format");
const QString TimeoutName = QStringLiteral("timeout");
const QString StratumLimitName = QStringLiteral("stratum-limit");
const QString ReferenceAgeLimitName = QStringLiteral("reference-age-limit");

bool namesOneOfOurOptions(const QString& argument)
{
    if (argument == QLatin1String("-h") || argument == QLatin1String("-?") || argument == QLatin1String("-v"))
        return true;
    if (!argument.startsWith(QLatin1String("--")))
        return false;
    const QString name = argument.mid(2).section(QLatin1Char('='), 0, 0);
    for (const QString& ours : {ReportName, FormatName, TimeoutName, StratumLimitName, ReferenceAgeLimitName,
                                QStringLiteral("help"), QStringLiteral("version")}) {
        if (name == ours)
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
// path it was started with; the help is printed before one exists, so name it here.
QString helpText(const QCommandLineParser& parser, const QString& program)
{
    const QString withoutUsage = parser.helpText().section(QLatin1Char('\n'), 1);
    return QStringLiteral("Usage: %1 [--report [options] [server...]]\n%2")
        .arg(QFileInfo(program).fileName(), withoutUsage);
}

CommandLine usageError(const QString& message)
{
    return {CommandLine::Action::UsageError, {}, QStringLiteral("ostrelle: %1\n").arg(message)};
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
        QStringLiteral("Watches NTP time servers; with --report, polls them once "
                       "and prints the result without a window."));
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
    const QCommandLineOption timeoutOption(TimeoutName,
                                           QStringLiteral("Seconds to wait for each answer (default 10)."),
                                           QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption stratumOption(StratumLimitName,
                                           QStringLiteral("A stratum above this (0 to 15) is unhealthy."),
                                           QStringLiteral("stratum"));
    const QCommandLineOption ageOption(
        ReferenceAgeLimitName, QStringLiteral("A reference time older than this many minutes is unhealthy."),
        QStringLiteral("minutes"));
    parser.addOptions(
        {helpOption, versionOption, reportOption, formatOption, timeoutOption, stratumOption, ageOption});
    parser.addPositionalArgument(QStringLiteral("server"),
                                 QStringLiteral("Servers to poll, as host or host:port (port 123 when "
                                                "none is given); the stored list when none are given."),
                                 QStringLiteral("[server...]"));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        return {CommandLine::Action::ShowHelp, {}, helpText(parser, arguments.first())};
    if (parser.isSet(versionOption))
        return {CommandLine::Action::ShowVersion,
                {},
                QStringLiteral("Brevikon Ostrelle %1\n").arg(OSTRELLE_VERSION)};
    if (!parser.isSet(reportOption))
        return usageError(QStringLiteral("the report's options need --report"));

    CommandLine result{CommandLine::Action::Report, {}, {}};
    ReportOptions& options = result.options;

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
