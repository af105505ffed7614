#pragma once

#include "dialogs/fixeddialog.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace ostrelle {

class Monitor;

// "Ostrelle Options": the polling interval, the two highlight thresholds and clock adjustment.
// Its controls are filled from the settings once, when it is created; moving a slider changes
// only its label, and only OK hands the controls' values to the monitor.
class Form4 : public FixedDialog
{
    Q_OBJECT
public:
    Form4(Monitor& monitor, QWidget* parent);

private:
    void Form_Load();
    void Slider1_Scroll();
    void Slider2_Scroll();
    void Slider3_Scroll();
    void Command1_Click();
    void Command2_Click();

    void layOut();

    Monitor& m_monitor;
    QGroupBox* m_frame2;
    QCheckBox* m_checkAdj;
    QGroupBox* m_frame1;
    QSlider* m_slider1;
    QLabel* m_label1;
    QGroupBox* m_frame3;
    QSlider* m_slider2;
    QLabel* m_label2;
    QGroupBox* m_frame4;
    QSlider* m_slider3;
    QLabel* m_label3;
    QPushButton* m_command1;
    QPushButton* m_command2;
};

} // namespace ostrelle
