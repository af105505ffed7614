#pragma once

#include "dialogs/kit/fixeddialog.h"
#include "servers/settingsstore.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QSlider;

namespace ostrelle {

struct SliderRange;

// "Ostrelle Options": the polling interval, the two highlight limits, clock adjustment and the
// desktop's switches.
// setSettings() fills the controls; moving a slider changes only its label; OK emits accepted()
// and settings() then holds the controls' values.
class OptionsDialog : public FixedDialog
{
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent);

    void setSettings(const Settings& settings);
    Settings settings() const;
    // Another service that keeps the clock or may undo a step: headline shown beside clock
    // adjustment, note as its tooltip; empty for none.
    void setClockAdjustmentNote(const QString& headline, const QString& note);
    // Without a system tray, minimising to it cannot be chosen.
    void setTrayAvailable(bool available);

private:
    struct SliderRow
    {
        QGroupBox* frame;
        QSlider* slider;
        QLabel* label;
    };
    SliderRow makeSliderRow(const QString& frameName, const QString& caption, const QString& sliderName,
                            const QString& labelName, const SliderRange& range, QString (*text)(int));
    void layOut();

    Settings m_settings;
    QGroupBox* m_systemTimeFrame;
    QCheckBox* m_adjustClockCheck;
    QLabel* m_timeServiceLabel;
    QGroupBox* m_desktopFrame;
    QCheckBox* m_notifyCheck;
    QCheckBox* m_hideWhenMinimisedCheck;
    SliderRow m_pollInterval;
    SliderRow m_referenceAge;
    SliderRow m_stratum;
};

} // namespace ostrelle
