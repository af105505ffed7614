#include "tests/support/testsystem.h"

#include "platform/clockstepper.h"
#include "platform/nativeudpchannel.h"

#include <QFile>
#include <QTest>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace ostrelle {

namespace {

// CAP_SYS_TIME in the effective set, as the Linux kernel reports it; nothing where the file is
// missing or says nothing.
std::optional<bool> linuxCapability(const QString& statusFile)
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr int capSysTime = 25;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("CapEff:"))
            continue;
        bool ok = false;
        const qulonglong effective = line.mid(7).trimmed().toULongLong(&ok, 16);
        if (ok)
            return ((effective >> capSysTime) & 1) != 0;
    }
    return std::nullopt;
}

} // namespace

bool RunningUnderWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool MayMoveRealClock()
{
    if (RunningUnderWine()) {
        // Wine shows the Linux root as drive Z:. Unknown counts as able: the test must not run.
        return linuxCapability(QStringLiteral("Z:/proc/self/status")).value_or(true);
    }
    return MaySetClockDirectly();
}

bool WaitForPortUnreachable(const NativeUdpChannel& channel, int timeoutMs)
{
    return QTest::qWaitFor(
        [&channel] { return NativeUdpSocket::isPortUnreachable(channel.lastIgnoredError()); }, timeoutMs);
}

} // namespace ostrelle
