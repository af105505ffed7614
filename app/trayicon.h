#pragma once

#include "app/desktopstatus.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace ostrelle {

// The tray's view of a monitor that runs all day: an icon for the state at a glance, its summary
// as the tooltip, and Show, Poll now and Quit.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(const DesktopStatus& status, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }

signals:
    void showRequested();
    void pollRequested();
    void quitRequested();

private:
    void showStatus();

    const DesktopStatus& m_status;
    QMenu m_menu;
    QSystemTrayIcon m_icon;
};

} // namespace ostrelle
