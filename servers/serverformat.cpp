#include "servers/serverformat.h"

#include "servers/servername.h"
#include "servers/serverreasons.h"
#include "timekeeping/ntptime.h"

#include <QHostAddress>
#include <QLocale>
#include <cmath>

namespace ostrelle {

QString SecondsText(double seconds)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    // A small negative value rounds to zero, and "-0.000" would suggest a direction there is not.
    if (locale.toString(std::abs(seconds), 'f', 3) == locale.toString(0.0, 'f', 3))
        seconds = 0.0;
    return locale.toString(seconds, 'f', 3);
}

QString LeapStatusText(int leap)
{
    switch (leap) {
    case 0:
        return QStringLiteral("OK");
    case 3:
        return QStringLiteral("NO SYNC");
    default:
        return QStringLiteral("LEAP");
    }
}

QString ReferenceIdText(const std::array<std::uint8_t, 4>& id)
{
    std::size_t length = id.size();
    while (length > 0 && id[length - 1] == 0)
        --length;
    QString text;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t octet = id[i];
        text.append(octet >= 0x20 && octet <= 0x7E ? QChar(octet) : QChar(u'?'));
    }
    return text;
}

QString ReferenceText(int stratum, const std::array<std::uint8_t, 4>& id)
{
    if (stratum <= 1)
        return ReferenceIdText(id);
    return QHostAddress(quint32(id[0]) << 24 | quint32(id[1]) << 16 | quint32(id[2]) << 8 | id[3]).toString();
}

namespace {

QString statusText(const ServerRecord& record)
{
    switch (record.state) {
    case ServerState::Waiting:
        return QStringLiteral("Wait");
    case ServerState::Polling:
        return QStringLiteral("Polling");
    case ServerState::TimedOut:
        return QStringLiteral("Timedout");
    case ServerState::Answered:
        break;
    }
    return LeapStatusText(record.reading.leap);
}

// A row that has never been answered shows nothing in the reply's columns.
bool hasReading(const ServerRecord& record)
{
    return record.everAnswered;
}

} // namespace

QString ServerCellText(const ServerRecord& record, ServerColumn column)
{
    const ServerReading& r = record.reading;
    if (column == ServerColumn::Name)
        return DisplayServerName(record.name);
    if (column == ServerColumn::Status)
        return statusText(record);
    if (!hasReading(record))
        return {};
    const QString none = QStringLiteral("-");
    switch (column) {
    case ServerColumn::Version:
        return QString::number(r.version);
    case ServerColumn::Stratum:
        return QString::number(r.stratum);
    case ServerColumn::Reference:
        return r.stratum <= 1 ? ReferenceIdText(r.referenceId) : none;
    case ServerColumn::ReferenceTime: {
        const QString text = r.referenceTime != 0.0 ? DateTimeText(r.referenceTime) : QString();
        return text.isEmpty() ? none : text;
    }
    case ServerColumn::RoundTrip:
        return r.hasTimestamps ? SecondsText(r.roundTripSeconds) : none;
    case ServerColumn::Offset:
        return r.hasTimestamps ? SecondsText(r.offsetSeconds) : none;
    default:
        return {};
    }
}

QString ServerProblemText(const ServerRecord& record)
{
    const ServerProblems p = record.problems;
    const ServerReading& reading = record.reading;
    // The reading's own problems are those of the last answer, kept through a later time-out.
    ServerReading judged = reading;
    judged.problems = p;
    UnhealthyReasons reasons = ReasonsOf(judged);
    reasons.noReply = p.testFlag(ServerProblem::TimedOut);
    reasons.disagrees = p.testFlag(ServerProblem::Disagrees);
    reasons.agreeing = record.agreeing;
    reasons.counted = record.counted;
    reasons.rootDistanceTooLarge = p.testFlag(ServerProblem::TooDistant);
    reasons.rootDistanceSeconds = record.rootDistanceSeconds;
    if (p.testFlag(ServerProblem::NtsRefused))
        reasons.ntsFailure = record.nts.reason;
    return UnhealthyReasonText(reasons);
}

QString ServerColumnHeading(ServerColumn column)
{
    switch (column) {
    case ServerColumn::Name:
        return QStringLiteral("Server");
    case ServerColumn::Status:
        return QStringLiteral("Status");
    case ServerColumn::Version:
        return QStringLiteral("Version");
    case ServerColumn::Stratum:
        return QStringLiteral("Stratum");
    case ServerColumn::Reference:
        return QStringLiteral("Reference");
    case ServerColumn::ReferenceTime:
        return QStringLiteral("Reference Time (UTC)");
    case ServerColumn::RoundTrip:
        return QStringLiteral("Round-Trip");
    case ServerColumn::Offset:
        return QStringLiteral("Offset");
    case ServerColumn::Count:
        break;
    }
    return {};
}

QString NtsToolTipText(const NtsStatus& status)
{
    if (!status.reason.isEmpty())
        return status.reason;
    if (!status.authenticated)
        return {};
    return QStringLiteral("Authenticated with NTS\nCertificate: %1\nIssued by: %2\nExpires: %3")
        .arg(status.certificateSubject, status.certificateIssuer,
             QLocale().toString(status.certificateExpiry.toLocalTime(), QLocale::ShortFormat));
}

QString AnsweredFromText(const ServerRecord& record)
{
    if (record.answeredFrom.isEmpty())
        return {};
    return QStringLiteral("Answered from %1").arg(record.answeredFrom);
}

QString FilteredOffsetText(const ServerRecord& record)
{
    if (record.filteredSamples < 2)
        return {};
    const QLocale locale;
    // Shown to the microsecond, without a minus sign before nothing.
    const double offset =
        std::abs(record.filteredOffsetSeconds) < 0.5e-6 ? 0.0 : record.filteredOffsetSeconds;
    return QStringLiteral("Filtered offset %1 s (jitter %2 s, %3 samples)")
        .arg(locale.toString(offset, 'f', 6), locale.toString(record.jitterSeconds, 'f', 6))
        .arg(record.filteredSamples);
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

} // namespace ostrelle
