#include "platform/startingconsole.h"

#ifdef _WIN32
#include <cstdio>
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
    if ((!noOutput && !noError) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (noOutput && !std::freopen("CONOUT$", "w", stdout))
        return;
    if (noError)
        static_cast<void>(std::freopen("CONOUT$", "w", stderr));
#endif
}

} // namespace ostrelle
