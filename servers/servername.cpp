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
    qsizetype kept = MaxServerNameLength - 3;
    // A character outside the Basic Multilingual Plane is two code units: keep both or neither.
    if (name.at(kept - 1).isHighSurrogate() && name.at(kept).isLowSurrogate())
        --kept;
    return name.left(kept) + QStringLiteral("...");
}

} // namespace ostrelle
