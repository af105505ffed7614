#pragma once

#include <QString>
#include <optional>

namespace ostrelle {

// No host name is longer than 255 characters.
inline constexpr qsizetype MaxServerNameLength = 255;

enum class ServerNameCheck {
    Usable,
    Blank,
    TooLong,
    Malformed, // none of the forms ParseServerAddress() reads
};

// The port of the NTS key exchange when an nts:// name gives none.
inline constexpr quint16 DefaultNtsKePort = 4460;

// Where a listed server is asked: by plain NTP, or by NTS after a key exchange with host:port.
struct ServerAddress
{
    enum class Protocol { Ntp, Nts };
    Protocol protocol = Protocol::Ntp;
    QString host;     // a name, or an address without brackets
    quint16 port = 0; // as written; 0 when left out (the usual NTP port, or DefaultNtsKePort)

    bool isNts() const { return protocol == Protocol::Nts; }
    friend bool operator==(const ServerAddress&, const ServerAddress&) = default;
};

// The one reading of every name form, wherever a name comes from (the add dialog, the stored
// list, the command line): "host", "host:port", "[IPv6]", "[IPv6]:port", a bare IPv6 address, and
// "nts://host[:port]" (the scheme in any case, an IPv6 host in brackets). Nothing for an empty
// host, a port that is not 1 to 65535, or any other scheme.
std::optional<ServerAddress> ParseServerAddress(const QString& name);

// The name taken from what the operator typed: without leading and trailing blanks.
QString TypedServerName(const QString& typed);

// Whether a name can be looked up: not blank, within MaxServerNameLength, and of a form
// ParseServerAddress() reads.
ServerNameCheck CheckServerName(const QString& name);

// The name as a row shows it: verbatim, or its first characters and "..." when too long to be
// a host name (a megabyte of text would stall every repaint).
QString DisplayServerName(const QString& name);

} // namespace ostrelle
