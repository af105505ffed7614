#pragma once

#include "platform/timeservice.h"

#include <functional>
#include <optional>

namespace ostrelle {

// Windows only. Windows Time (W32Time): whether it runs, from the service control manager, and
// whether it is set to synchronise, from its Type parameter
// (HKLM\SYSTEM\CurrentControlSet\Services\W32Time\Parameters: NTP, NT5DS or AllSync, or NoSync).
class WindowsTimeService final : public TimeService
{
public:
    enum class ServiceStatus {
        Missing, // not installed
        Stopped, // stopped, stopping or paused
        Running, // running, starting or resuming
        Unknown, // the service control manager would not say
    };
    // How the two facts are read: from the system, or from a stand-in in tests.
    struct Probe
    {
        std::function<ServiceStatus()> serviceStatus;
        std::function<std::optional<QString>()> syncType; // nothing when absent or unreadable
    };

    // Asks the system.
    WindowsTimeService();
    explicit WindowsTimeService(Probe probe);

    TimeServiceState state() const override;

    static Probe SystemProbe();

private:
    Probe m_probe;
};

} // namespace ostrelle
