#pragma once

#include "platform/elevatedclockstepper.h"
#include "platform/timeservice.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace ostrelle {

// Windows only. Windows Time (W32Time): whether it runs, from the service control manager, and
// whether it is set to synchronise, from its Type parameter
// (HKLM\SYSTEM\CurrentControlSet\Services\W32Time\Parameters: NTP, NT5DS or AllSync, or NoSync).
// Its synchronisation is handed over by an elevated copy of this program that sets the Type to
// NoSync, keeping the Type it had, and has the service read its parameters again; giving it back
// restores the kept Type. W32Time never refuses a step made here, so it never keepsClock.
class WindowsTimeService final : public TimeService
{
public:
    enum class ServiceStatus {
        Missing, // not installed
        Stopped, // stopped, stopping or paused
        Running, // running, starting or resuming
        Unknown, // the service control manager would not say
    };
    // How the facts are read: from the system, or from a stand-in in tests.
    struct Probe
    {
        std::function<ServiceStatus()> serviceStatus;
        std::function<std::optional<QString>()> syncType; // nothing when absent or unreadable
        // The Type a hand-over from here replaced; nothing when none is kept.
        std::function<std::optional<QString>()> typeBeforeHandOver;
    };
    // Runs the switch (on: give the clock back) as an elevated copy, and waits until it ends; called
    // on a thread of its own.
    using Switcher = std::function<ElevatedClockStepper::Outcome(bool on)>;

    // Asks the system; switches through an elevated copy of program.
    explicit WindowsTimeService(const QString& program);
    WindowsTimeService(Probe probe, Switcher switcher);

    TimeServiceState state() const override;
    void setAutomaticSync(bool on, QObject* context, Done done) override;

    static Probe SystemProbe();
    static Switcher RunasSwitcher(const QString& program);

    // The elevated copy's option, followed by "on" or "off".
    static constexpr const char* SwitchOption = "--time-service-sync";
    // The elevated copy's work, in main() before anything else: when arguments ask for a switch,
    // makes it and returns the exit status (0, or the Win32 error that refused it); otherwise nothing.
    static std::optional<int> RunSwitchRequest(const QStringList& arguments);

    // Where the Type and the kept Type live: W32Time's own keys under HKEY_LOCAL_MACHINE, or keys
    // of a test's own under HKEY_CURRENT_USER.
    struct TypeKeys
    {
        bool localMachine = true;
        QString parameters; // holds the value "Type"
        QString kept;       // holds the value "W32TimeTypeBeforeHandOver"
    };
    static TypeKeys SystemTypeKeys();
    // Off: keeps the Type (unless it is NoSync already) and writes NoSync. On: writes the kept Type
    // back and forgets it. Returns 0 or the Win32 error that stopped it.
    static unsigned long SwitchSyncType(bool on, const TypeKeys& keys);

private:
    Probe m_probe;
    Switcher m_switcher;
};

} // namespace ostrelle
