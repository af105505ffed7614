#include "servers/servername.h"

#include <QHostAddress>
#include <QUrl>
#include <algorithm>

namespace ostrelle {

QString TypedServerName(const QString& typed)
{
    return typed.trimmed();
}

ServerNameCheck CheckServerName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return ServerNameCheck::Blank;
    if (name.size() > MaxServerNameLength)
        return ServerNameCheck::TooLong;
    if (!ParseServerAddress(name))
        return ServerNameCheck::Malformed;
    return ServerNameCheck::Usable;
}

namespace {

std::optional<quint16> portNumber(const QString& text)
{
    bool ok = false;
    const uint number = text.toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return std::nullopt;
    return quint16(number);
}

std::optional<ServerAddress> parseNtsUrl(const QString& name)
{
    const QUrl url(name, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() || url.hasFragment() ||
        url.port() == 0)
        return std::nullopt;
    return ServerAddress{ServerAddress::Protocol::Nts, url.host(), quint16(std::max(url.port(), 0))};
}

} // namespace

std::optional<ServerAddress> ParseServerAddress(const QString& typed)
{
    const QString name = typed.trimmed();
    if (name.startsWith(QLatin1String("nts://"), Qt::CaseInsensitive))
        return parseNtsUrl(name);
    if (name.contains(QLatin1String("://")))
        return std::nullopt;
    ServerAddress address{ServerAddress::Protocol::Ntp, name, 0};
    QString port;
    if (name.startsWith(QLatin1Char('['))) {
        const qsizetype close = name.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        address.host = name.mid(1, close - 1);
        const QString rest = name.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else if (name.count(QLatin1Char(':')) == 1) {
        address.host = name.section(QLatin1Char(':'), 0, 0);
        port = name.section(QLatin1Char(':'), 1);
    } else if (name.contains(QLatin1Char(':')) &&
               QHostAddress(name).protocol() != QAbstractSocket::IPv6Protocol) {
        // More than one colon is an IPv6 address without a port, or no host at all: no host name
        // holds a colon, and two ports are one too many.
        return std::nullopt;
    }
    if (address.host.isEmpty())
        return std::nullopt;
    if (!port.isNull()) {
        const std::optional<quint16> number = portNumber(port);
        if (!number)
            return std::nullopt;
        address.port = *number;
    }
    return address;
}

QString DisplayServerName(const QString& name)
{
    if (name.size() <= MaxServerNameLength)
        return name;
    qsizetype kept = MaxServerNameLength - 3;
    // A character outside the Basic Multilingual Plane is two code units: keep both or neither.
    if (name.at(kept - 1).isHighSurrogate() && name.at(kept).isLowSurrogate())
        --kept;
    return name.left(kept) + QStringLiteral("...");
}

} // namespace ostrelle
