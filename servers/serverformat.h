#pragma once

#include "servers/serverrecord.h"

#include <QString>
#include <QStringList>

namespace ostrelle {

// The one place where numbers become cell text.

// Seconds as "0.000": three decimals, the default locale's separator, no grouping, and no minus
// sign on a value that rounds to zero.
QString SecondsText(double seconds);

// The status text for a leap indicator: "OK", "LEAP" or "NO SYNC".
QString LeapStatusText(int leap);

// The reference identifier as shown: up to four octets, trailing zero octets dropped, "?" for an
// octet that is not a printable character.
QString ReferenceIdText(const std::array<std::uint8_t, 4>& id);
// What a reply's reference identifier names: the code of a stratum 0 or 1 server, the upstream
// server's IPv4 address for any other (the table shows "-" there, as it always has).
QString ReferenceText(int stratum, const std::array<std::uint8_t, 4>& id);

enum class ServerColumn {
    Name,
    Status,
    Version,
    Stratum,
    Reference,
    ReferenceTime,
    RoundTrip,
    Offset,
    Count
};

// The text of one cell of a server's row.
QString ServerCellText(const ServerRecord& record, ServerColumn column);

// Why a row is red, every reason with its numbers; empty for a healthy row.
QString ServerProblemText(const ServerRecord& record);

// The tooltip of an nts:// row: the reason of its last failure, or the certificate behind its
// authenticated reply; empty when NTS has nothing to say.
QString NtsToolTipText(const NtsStatus& status);
// "Answered from <address>" for a name's row that has answered; empty otherwise.
QString AnsweredFromText(const ServerRecord& record);

// "Filtered offset 0.000123 s (jitter 0.000045 s, 5 samples)", from the row's recent samples;
// empty with fewer than two.
QString FilteredOffsetText(const ServerRecord& record);

// The heading of a column.
QString ServerColumnHeading(ServerColumn column);

// One CSV record as RFC 4180 has it: fields holding a comma, quote or line break are quoted,
// quotes doubled, and the record ends in CRLF.
QString CsvRecord(const QStringList& fields);

} // namespace ostrelle
