#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace ostrelle {

// A dbus-daemon of the test's own, listening on a socket in a temporary folder, so that no test
// ever reaches the machine's system or session bus. Stopped by its PID when destroyed.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False when dbus-daemon is not installed.
    static bool available();

    // Starts the daemon; false with errorString() when it did not come up.
    [[nodiscard]] bool start();
    // The address clients connect to ("unix:path=...,guid=...").
    QString address() const { return m_address; }
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

} // namespace ostrelle
