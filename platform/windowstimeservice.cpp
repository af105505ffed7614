#include "platform/windowstimeservice.h"

#include <QThread>
#include <memory>
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

const wchar_t* const KeptValue = L"W32TimeTypeBeforeHandOver";

HKEY rootOf(const WindowsTimeService::TypeKeys& keys)
{
    return keys.localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::optional<QString> readText(HKEY root, const QString& key, const wchar_t* value,
                                LSTATUS* status = nullptr)
{
    wchar_t text[64];
    DWORD size = sizeof text;
    const LSTATUS read = ::RegGetValueW(root, reinterpret_cast<const wchar_t*>(key.utf16()), value,
                                        RRF_RT_REG_SZ, nullptr, text, &size);
    if (status)
        *status = read;
    if (read != ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(text).trimmed();
}

LSTATUS writeText(HKEY root, const QString& key, const wchar_t* value, const QString& text)
{
    return ::RegSetKeyValueW(root, reinterpret_cast<const wchar_t*>(key.utf16()), value, REG_SZ, text.utf16(),
                             DWORD((text.size() + 1) * sizeof(wchar_t)));
}

bool isNoSync(const QString& type)
{
    return type.compare(QLatin1String("NoSync"), Qt::CaseInsensitive) == 0;
}

// Has W32Time read its parameters again, as a change of them asks for.
DWORD askToRereadParameters(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    if (::ControlService(service, SERVICE_CONTROL_PARAMCHANGE, &status))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    // A stopped service reads them when it starts.
    return error == ERROR_SERVICE_NOT_ACTIVE ? ERROR_SUCCESS : error;
}

} // namespace

WindowsTimeService::TypeKeys WindowsTimeService::SystemTypeKeys()
{
    return {true, QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters"),
            QStringLiteral("SOFTWARE\\Brevikon\\Ostrelle")};
}

unsigned long WindowsTimeService::SwitchSyncType(bool on, const TypeKeys& keys)
{
    const HKEY root = rootOf(keys);
    LSTATUS status = ERROR_SUCCESS;
    if (on) {
        const std::optional<QString> kept = readText(root, keys.kept, KeptValue, &status);
        if (!kept)
            return status;
        status = writeText(root, keys.parameters, L"Type", *kept);
        if (status != ERROR_SUCCESS)
            return status;
        return ::RegDeleteKeyValueW(root, reinterpret_cast<const wchar_t*>(keys.kept.utf16()), KeptValue);
    }
    const std::optional<QString> type = readText(root, keys.parameters, L"Type", &status);
    if (!type)
        return status;
    // Already off: what it had before is kept, or was never this program's to give back.
    if (isNoSync(*type))
        return ERROR_SUCCESS;
    status = writeText(root, keys.kept, KeptValue, *type);
    if (status != ERROR_SUCCESS)
        return status;
    return writeText(root, keys.parameters, L"Type", QStringLiteral("NoSync"));
}

std::optional<int> WindowsTimeService::RunSwitchRequest(const QStringList& arguments)
{
    if (arguments.size() < 2 || arguments.at(1) != QLatin1String(SwitchOption))
        return std::nullopt;
    const QString how = arguments.size() == 3 ? arguments.at(2) : QString();
    if (how != QLatin1String("on") && how != QLatin1String("off"))
        return int(ERROR_INVALID_PARAMETER);
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return int(::GetLastError());
    // Opened before anything changes: without the service there is nothing to switch.
    const SC_HANDLE service = ::OpenServiceW(manager, L"W32Time", SERVICE_PAUSE_CONTINUE);
    DWORD error = service ? ERROR_SUCCESS : ::GetLastError();
    if (service) {
        error = SwitchSyncType(how == QLatin1String("on"), SystemTypeKeys());
        if (error == ERROR_SUCCESS)
            error = askToRereadParameters(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return int(error);
}

WindowsTimeService::WindowsTimeService(const QString& program)
    : WindowsTimeService(SystemProbe(), RunasSwitcher(program))
{
}

WindowsTimeService::WindowsTimeService(Probe probe, Switcher switcher)
    : m_probe(std::move(probe)), m_switcher(std::move(switcher))
{
}

WindowsTimeService::Probe WindowsTimeService::SystemProbe()
{
    const TypeKeys keys = SystemTypeKeys();
    return Probe{queryServiceStatus, [keys] { return readText(rootOf(keys), keys.parameters, L"Type"); },
                 [keys] { return readText(rootOf(keys), keys.kept, KeptValue); }};
}

WindowsTimeService::Switcher WindowsTimeService::RunasSwitcher(const QString& program)
{
    return [program](bool on) {
        return RunElevated(program, {QLatin1String(SwitchOption), QLatin1String(on ? "on" : "off")});
    };
}

void WindowsTimeService::setAutomaticSync(bool on, QObject* context, Done done)
{
    // The consent prompt holds the launch until the operator answers: never on the window's thread.
    auto outcome = std::make_shared<ElevatedClockStepper::Outcome>();
    QThread* thread = QThread::create([switcher = m_switcher, outcome, on] { *outcome = switcher(on); });
    QObject::connect(thread, &QThread::finished, context, [outcome, done = std::move(done)] {
        const bool ok = outcome->kind == ElevatedClockStepper::Outcome::Kind::Exited && outcome->code == 0;
        done(ok, ok ? QString() : ElevatedClockStepper::reasonFor(*outcome));
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
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
    state.synchronises = !type || !isNoSync(*type);
    // Only a Type that is there can be kept and given back; NoSync only when one is kept.
    if (state.running && type) {
        const QStringList synchronising = {"NTP", "NT5DS", "AllSync"};
        state.canHandOver = synchronising.contains(*type, Qt::CaseInsensitive) ||
                            (isNoSync(*type) && m_probe.typeBeforeHandOver && m_probe.typeBeforeHandOver());
    }
    return state;
}

} // namespace ostrelle
