#pragma once

#include "dialogs/kit/fixeddialog.h"
#include "servers/settingsstore.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QSlider;

namespace ostrelle {

struct SliderRange;

// "Ostrelle Options": the polling interval, the two highlight limits and clock adjustment.
// setSettings() fills the controls; moving a slider changes only its label; OK emits accepted()
// and settings() then holds the controls' values.
class OptionsDialog : public FixedDialog
{
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent);

    void setSettings(const Settings& settings);
    Settings settings() const;
    // Why a step may not last (another service that keeps the clock), as clock adjustment's
    // tooltip; empty for none.
    void setClockAdjustmentNote(const QString& note);

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
    SliderRow m_pollInterval;
    SliderRow m_referenceAge;
    SliderRow m_stratum;
};

} // namespace ostrelle
