#include "servers/servername.h"

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
    return ServerNameCheck::Usable;
}

QString DisplayServerName(const QString& name)
{
    if (name.size() <= MaxServerNameLength)
        return name;
    return name.left(MaxServerNameLength - 3) + QStringLiteral("...");
}

} // namespace ostrelle
