#pragma once

#include "app/monitor.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

namespace ostrelle {

class Form2;
class Form3;
class Form4;
class ServerTableModel;

// The main window: the server table, the "Synchronisation" frame and the five buttons. It draws
// what the Monitor holds and forwards clicks, ticks and socket events to it.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    Form1(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages,
          QWidget* parent = nullptr);
    ~Form1() override;

    Monitor& monitor() { return m_monitor; }

    void CommandAdd_Click();
    void CommandRemove_Click();
    void CommandClear_Click();
    void CommandOptions_Click();
    void CommandAbout_Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void layOutControls();
    void showLabels();
    void showCurrentRow(int tableRow);
    void showHeadingRow();
    void openDialog(QWidget* dialog);

    Monitor m_monitor;
    QTimer m_timerTimeout;
    ServerTableModel* m_model = nullptr;

    QGroupBox* m_frame1 = nullptr;
    QLabel* m_labelPoll = nullptr;
    QLabel* m_labelSync = nullptr;
    QLabel* m_labelAdjust = nullptr;
    QTableView* m_grid = nullptr;
    QPushButton* m_commandAdd = nullptr;
    QPushButton* m_commandRemove = nullptr;
    QPushButton* m_commandClear = nullptr;
    QPushButton* m_commandOptions = nullptr;
    QPushButton* m_commandAbout = nullptr;

    QPointer<Form2> m_form2;
    QPointer<Form3> m_form3;
    QPointer<Form4> m_form4;
    bool m_centred = false;
};

} // namespace ostrelle
