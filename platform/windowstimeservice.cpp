#include "platform/windowstimeservice.h"

#include <windows.h>
#include <winsvc.h>

namespace ostrelle {

namespace {

WindowsTimeService::ServiceStatus queryServiceStatus()
{
    using Status = WindowsTimeService::ServiceStatus;
    // Connect and query rights only: an ordinary user may ask, not change.
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return Status::Unknown;
    const SC_HANDLE service = ::OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS);
    Status status = Status::Unknown;
    if (!service) {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            status = Status::Missing;
    } else {
        SERVICE_STATUS_PROCESS process{};
        DWORD needed = 0;
        if (::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                   sizeof process, &needed)) {
            switch (process.dwCurrentState) {
            case SERVICE_RUNNING:
            case SERVICE_START_PENDING:
            case SERVICE_CONTINUE_PENDING:
                status = Status::Running;
                break;
            default:
                status = Status::Stopped;
                break;
            }
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return status;
}

std::optional<QString> querySyncType()
{
    wchar_t text[64];
    DWORD size = sizeof text;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters",
                       L"Type", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(text).trimmed();
}

} // namespace

WindowsTimeService::WindowsTimeService() : WindowsTimeService(SystemProbe()) {}

WindowsTimeService::WindowsTimeService(Probe probe) : m_probe(std::move(probe)) {}

WindowsTimeService::Probe WindowsTimeService::SystemProbe()
{
    return Probe{queryServiceStatus, querySyncType};
}

TimeServiceState WindowsTimeService::state() const
{
    TimeServiceState state;
    state.name = QStringLiteral("Windows Time (W32Time)");
    const ServiceStatus status = m_probe.serviceStatus();
    // Only what the service control manager says: the operator is never told of a guess.
    state.running = status == ServiceStatus::Running;
    if (status == ServiceStatus::Missing)
        return state;
    const std::optional<QString> type = m_probe.syncType();
    state.syncType = type.value_or(QString());
    // Without a readable type the service does what it does by default: NTP on a machine of its
    // own, NT5DS in a domain; both synchronise.
    state.synchronises = !type || type->compare(QLatin1String("NoSync"), Qt::CaseInsensitive) != 0;
    return state;
}

} // namespace ostrelle
