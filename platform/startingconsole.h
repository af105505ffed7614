#pragma once

namespace ostrelle {

// For the headless commands (--report, --help, --version) of a program built without a console of
// its own, as the Windows desktop program is: standard output and error that were not handed over
// (redirected to a file or a pipe) go to the console it was started from, if any. Elsewhere it does
// nothing: a Linux program always has its standard streams. On Windows the streams then carry the
// bytes as written, with no CR put before each LF.
void UseStartingConsole();

} // namespace ostrelle
