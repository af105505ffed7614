#pragma once

#include "app/desktopstatus.h"
#include "app/monitor.h"
#include "history/serverhistorywindow.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

namespace ostrelle {

class AboutDialog;
class AddServerDialog;
class HistoryExport;
class HistoryRecorder;
class OptionsDialog;
class TimeService;
class HostResolver;
class TrayIcon;

// The main window: the server list, the "Synchronisation" frame and the five buttons. It shows
// what the Monitor holds, drives its tick and hands the operator's actions and dialogs to it.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    // resolver looks the servers' names up from the first step on; without one the channel does.
    MainWindow(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages,
               HostResolver* resolver = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    Monitor& monitor() { return m_monitor; }

    void openAddServerDialog();
    void removeSelectedServer();
    void clearServers();
    void openOptionsDialog();
    void openAboutDialog();
    // Another start of the program asked for this window: shown, restored and raised.
    void bringToFront();

    // History: recording of every poll, a window per server (double-click, Enter or the row's
    // context menu) and the export of all servers. Off until a recorder is given.
    using SaveFileChooser = ServerHistoryWindow::SaveFileChooser;
    void setHistoryRecorder(HistoryRecorder& recorder);
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseFile = std::move(chooser); }
    // Opens the server's window, or raises it when it is open already.
    ServerHistoryWindow* openServerHistory(int row);
    // Asks for a file and writes every server's history to it in the background.
    void exportAllHistory();
    HistoryExport* historyExport() const { return m_historyExport; }

    // Another service that keeps the clock (systemd-timedated's automatic synchronisation, Windows
    // Time): clock adjustment in Options and the "Synchronised to:" tooltip say so, no step is
    // tried while it keeps the clock, and switching adjustment on or off offers to hand the clock
    // over or back. None until one is given.
    void setTimeService(TimeService& service);

    // Desktop notifications of what changes, while the operator leaves them switched on in Options.
    void setNotifier(Notifier& notifier) { m_status.setNotifier(notifier); }
    const DesktopStatus& desktopStatus() const { return m_status; }
    // A tray icon where the desktop has a tray; minimising then hides the window to it when the
    // operator chose so in Options.
    void showTrayIcon();
    TrayIcon* trayIcon() const { return m_trayIcon; }
    // Starts a pass now unless one is under way.
    void pollNow();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    void layOutControls();
    void fitColumns();
    void showLabels();
    void showHeading();
    void addServerFromDialog();
    void openDialog(QWidget* dialog);
    void showServerMenu(const QPoint& position);
    void historyExported(const QString& fileName, const QString& error);
    QString timeServiceNote() const;
    void applyOptions(Settings chosen);
    void switchAutomaticSync(bool on);

    MessageDialog& m_messages;
    Monitor m_monitor;
    QTimer m_tickTimer;

    QGroupBox* m_synchronisationFrame = nullptr;
    QLabel* m_lastPollLabel = nullptr;
    QLabel* m_synchronisedToLabel = nullptr;
    QLabel* m_lastAdjustmentLabel = nullptr;
    QTableView* m_serverView = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_optionsButton = nullptr;
    QPushButton* m_aboutButton = nullptr;
    QList<int> m_columnWidths; // pixels, as designed

    QPointer<AddServerDialog> m_addServerDialog;
    QPointer<AboutDialog> m_aboutDialog;
    QPointer<OptionsDialog> m_optionsDialog;
    bool m_centred = false;

    HistoryRecorder* m_historyRecorder = nullptr;
    HistoryExport* m_historyExport = nullptr;
    QHash<QString, QPointer<ServerHistoryWindow>> m_historyWindows;
    SaveFileChooser m_chooseFile;

    TimeService* m_timeService = nullptr;
    DesktopStatus m_status;
    TrayIcon* m_trayIcon = nullptr;
};

} // namespace ostrelle
