#include "platform/startingconsole.h"

#ifdef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace ostrelle {

void UseStartingConsole()
{
#ifdef _WIN32
    const auto missing = [](DWORD stream) {
        const HANDLE handle = ::GetStdHandle(stream);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    const bool noOutput = missing(STD_OUTPUT_HANDLE);
    const bool noError = missing(STD_ERROR_HANDLE);
    // A monitoring system, a pipe, a file or Wine's terminal handed the streams over: they are used
    // as they are. Only a program started from a console window gets nothing and must attach.
    if ((noOutput || noError) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (noOutput)
            static_cast<void>(std::freopen("CONOUT$", "w", stdout));
        if (noError)
            static_cast<void>(std::freopen("CONOUT$", "w", stderr));
    }
    // Byte for byte as on Linux: in text mode the C library makes every line end CR LF, so that a
    // CSV report's own CR LF became CR CR LF and the Prometheus text, which must end its lines in
    // LF alone, could not be read.
    static_cast<void>(::_setmode(::_fileno(stdout), _O_BINARY));
    static_cast<void>(::_setmode(::_fileno(stderr), _O_BINARY));
#endif
}

} // namespace ostrelle
