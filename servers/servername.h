#pragma once

#include <QString>

namespace ostrelle {

// No host name is longer than 255 characters.
inline constexpr qsizetype MaxServerNameLength = 255;

enum class ServerNameCheck { Usable, Blank, TooLong };

// The name taken from what the operator typed: without leading and trailing blanks.
QString TypedServerName(const QString& typed);

// Whether a name can be looked up: not blank and within MaxServerNameLength.
ServerNameCheck CheckServerName(const QString& name);

// The name as a row shows it: verbatim, or its first characters and "..." when too long to be
// a host name (a megabyte of text would stall every repaint).
QString DisplayServerName(const QString& name);

} // namespace ostrelle
