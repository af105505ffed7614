#pragma once

// Windows only: what the Windows implementations of the seams share.

#include <QString>
#include <chrono>
#include <windows.h>

namespace ostrelle {

// FILETIME counts 100 ns units from 1601-01-01 UTC.
std::chrono::system_clock::time_point FromFileTime(const FILETIME& time);
FILETIME ToFileTime(std::chrono::system_clock::time_point time);

// The system's own text for a Win32 error code, one line, without the final full stop; "error N"
// when the system has none.
QString SystemErrorText(DWORD code);

} // namespace ostrelle
