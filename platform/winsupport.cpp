#include "platform/winsupport.h"

namespace ostrelle {

namespace {

using FileTimeUnits = std::chrono::duration<long long, std::ratio<1, 10'000'000>>;
constexpr std::chrono::seconds From1601To1970{11'644'473'600};

} // namespace

std::chrono::system_clock::time_point FromFileTime(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    const FileTimeUnits since1601(static_cast<long long>(value.QuadPart));
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since1601 - From1601To1970));
}

FILETIME ToFileTime(std::chrono::system_clock::time_point time)
{
    const auto units = std::chrono::floor<FileTimeUnits>(time.time_since_epoch() + From1601To1970);
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(units.count());
    return FILETIME{value.LowPart, value.HighPart};
}

QString SystemErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                          nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    ::LocalFree(text);
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    return message.isEmpty() ? QStringLiteral("error %1").arg(code) : message;
}

} // namespace ostrelle
