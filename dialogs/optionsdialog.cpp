#include "dialogs/optionsdialog.h"

#include "dialogs/kit/controls.h"
#include "dialogs/kit/twipslayout.h"
#include "dialogs/optionsvalues.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

namespace ostrelle {

namespace {

QString minutesLabel(int minutes)
{
    return MinutesText(minutes * 60);
}

QString stratumLabel(int stratum)
{
    return NumberText(stratum);
}

// Puts the widest text the label can come to show into it, the one it holds included.
void showWidest(QLabel* label, const SettingRange& range, QString (*text)(int), const QString& alsoShown = {})
{
    const QFontMetrics metrics = label->fontMetrics();
    QString widest = label->text();
    if (metrics.horizontalAdvance(alsoShown) > metrics.horizontalAdvance(widest))
        widest = alsoShown;
    for (int value = range.minimum; value <= range.maximum; ++value) {
        if (metrics.horizontalAdvance(text(value)) > metrics.horizontalAdvance(widest))
            widest = text(value);
    }
    label->setText(widest);
}

} // namespace

OptionsDialog::SliderRow OptionsDialog::makeSliderRow(const QString& frameName, const QString& caption,
                                                      const QString& sliderName, const QString& labelName,
                                                      const SliderRange& range, QString (*text)(int))
{
    SliderRow row;
    row.frame = makeNamed<QGroupBox>(frameName, caption, this);
    row.slider = makeNamed<QSlider>(sliderName, Qt::Horizontal, row.frame);
    row.slider->setRange(range.range.minimum, range.range.maximum);
    row.slider->setSingleStep(1);
    row.slider->setPageStep(range.largeStep);
    row.slider->setTickInterval(range.tickInterval);
    row.slider->setTickPosition(QSlider::TicksBelow);
    row.label = makeLabel(QString(), labelName, row.frame);
    QLabel* label = row.label;
    QSlider* slider = row.slider;
    connect(slider, &QSlider::valueChanged, label, [label, text](int value) { label->setText(text(value)); });
    return row;
}

OptionsDialog::OptionsDialog(QWidget* parent) : FixedDialog(QStringLiteral("Ostrelle Options"), parent)
{
    setObjectName(QStringLiteral("Form4"));
    m_systemTimeFrame = makeNamed<QGroupBox>(QStringLiteral("Frame2"), QStringLiteral("System Time"), this);
    m_adjustClockCheck = makeNamed<QCheckBox>(QStringLiteral("CheckAdj"),
                                              QStringLiteral("Adjust System Time"), m_systemTimeFrame);
    m_timeServiceLabel = makeLabel(QString(), QStringLiteral("LabelTimeService"), m_systemTimeFrame);
    m_timeServiceLabel->setWordWrap(true);
    m_desktopFrame = makeNamed<QGroupBox>(QStringLiteral("FrameDesktop"), QStringLiteral("Desktop"), this);
    m_notifyCheck = makeNamed<QCheckBox>(QStringLiteral("CheckNotify"), QStringLiteral("Show notifications"),
                                         m_desktopFrame);
    m_hideWhenMinimisedCheck = makeNamed<QCheckBox>(QStringLiteral("CheckTray"),
                                                    QStringLiteral("Minimise to the tray"), m_desktopFrame);
    m_pollInterval =
        makeSliderRow(QStringLiteral("Frame1"), QStringLiteral("NTP Polling Frequency "),
                      QStringLiteral("Slider1"), QStringLiteral("Label1"), PollMinutesSlider, minutesLabel);
    m_referenceAge = makeSliderRow(
        QStringLiteral("Frame3"), QStringLiteral("Highlight Reference Time Greater Than"),
        QStringLiteral("Slider2"), QStringLiteral("Label2"), ReferenceAgeMinutesSlider, minutesLabel);
    m_stratum =
        makeSliderRow(QStringLiteral("Frame4"), QStringLiteral("Highlight Stratum Greater Than"),
                      QStringLiteral("Slider3"), QStringLiteral("Label3"), StratumSlider, stratumLabel);
    auto* okButton = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    auto* cancelButton = makeButton(QStringLiteral("Cancel"), QStringLiteral("Command2"), this);

    setTabOrder(okButton, cancelButton);
    setTabOrder(cancelButton, m_pollInterval.slider);
    setTabOrder(m_pollInterval.slider, m_adjustClockCheck);
    setTabOrder(m_adjustClockCheck, m_notifyCheck);
    setTabOrder(m_notifyCheck, m_hideWhenMinimisedCheck);
    setTabOrder(m_hideWhenMinimisedCheck, m_referenceAge.slider);
    setTabOrder(m_referenceAge.slider, m_stratum.slider);
    okButton->setFocus();
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    setSettings(m_settings);
    layOut();
}

void OptionsDialog::layOut()
{
    // Sized for the widest text each label can show, so that moving a slider never clips it.
    const QString loaded[] = {m_pollInterval.label->text(), m_referenceAge.label->text(),
                              m_stratum.label->text()};
    // A stored interval need not be whole minutes: " 59.83 mins" is the widest such text.
    const QString fraction = MinutesText(59 * 60 + 50);
    showWidest(m_pollInterval.label, PollIntervalMinutes, minutesLabel, fraction);
    showWidest(m_referenceAge.label, ReferenceAgeLimitMinutes, minutesLabel, fraction);
    showWidest(m_stratum.label, StratumLimitRange, stratumLabel);

    // The desktop's frame, and the time service's headline where there is one, push the sliders
    // down; without a headline its frame holds the one check box and no empty band.
    const bool headline = !m_timeServiceLabel->text().isEmpty();
    m_timeServiceLabel->setVisible(headline);
    const int headlineTwips = headline ? 564 : 0;
    const int Added = 888 + headlineTwips;
    TwipsLayout layout(this, 3480, 4272 + Added);
    layout.place({{m_systemTimeFrame, 120, 120, 3252, 528 + headlineTwips},
                  {m_adjustClockCheck, 240, 240, 2052, 252},
                  {m_timeServiceLabel, 240, 540, 2892, 504},
                  {m_desktopFrame, 120, 756 + headlineTwips, 3252, 852},
                  {m_notifyCheck, 240, 240, 2892, 252},
                  {m_hideWhenMinimisedCheck, 240, 516, 2892, 252}});
    int top = 840 + Added;
    for (const SliderRow& row : {m_pollInterval, m_referenceAge, m_stratum}) {
        layout.place({{row.frame, 120, top, 3252, 732},
                      {row.slider, 120, 240, 2292, 372},
                      {row.label, 2520, 360, 612, 252}});
        top += 840;
    }
    layout.place({{findChild<QPushButton*>(QStringLiteral("Command1")), 600, 3600 + Added, 972, 372},
                  {findChild<QPushButton*>(QStringLiteral("Command2")), 1800, 3600 + Added, 972, 372}});
    layout.apply();

    m_pollInterval.label->setText(loaded[0]);
    m_referenceAge.label->setText(loaded[1]);
    m_stratum.label->setText(loaded[2]);
}

void OptionsDialog::setSettings(const Settings& settings)
{
    m_settings = settings;
    // Filling the sliders is not the operator moving them: the labels keep the exact values.
    const QSignalBlocker block1(m_pollInterval.slider);
    const QSignalBlocker block2(m_referenceAge.slider);
    const QSignalBlocker block3(m_stratum.slider);

    m_adjustClockCheck->setChecked(settings.adjustClock);
    m_notifyCheck->setChecked(settings.notify);
    m_hideWhenMinimisedCheck->setChecked(settings.hideWhenMinimised);
    m_pollInterval.label->setText(MinutesText(settings.pollIntervalSeconds));
    m_pollInterval.slider->setValue(
        SliderPosition(RoundedMinutes(settings.pollIntervalSeconds), PollIntervalMinutes));
    m_referenceAge.label->setText(MinutesText(settings.referenceAgeLimitSeconds));
    m_referenceAge.slider->setValue(
        SliderPosition(RoundedMinutes(settings.referenceAgeLimitSeconds), ReferenceAgeLimitMinutes));
    m_stratum.label->setText(NumberText(settings.stratumLimit));
    m_stratum.slider->setValue(SliderPosition(settings.stratumLimit, StratumLimitRange));
}

Settings OptionsDialog::settings() const
{
    Settings chosen = m_settings;
    chosen.adjustClock = m_adjustClockCheck->isChecked();
    chosen.notify = m_notifyCheck->isChecked();
    chosen.hideWhenMinimised = m_hideWhenMinimisedCheck->isChecked();
    chosen.pollIntervalSeconds = m_pollInterval.slider->value() * 60;
    chosen.referenceAgeLimitSeconds = m_referenceAge.slider->value() * 60;
    chosen.stratumLimit = m_stratum.slider->value();
    return chosen;
}

void OptionsDialog::setClockAdjustmentNote(const QString& headline, const QString& note)
{
    const bool reshaped = m_timeServiceLabel->text().isEmpty() != headline.isEmpty();
    m_timeServiceLabel->setText(headline);
    m_adjustClockCheck->setToolTip(note);
    m_timeServiceLabel->setToolTip(note);
    if (reshaped)
        layOut();
}

void OptionsDialog::setTrayAvailable(bool available)
{
    // Minimising to a tray that is not there would leave no way back to the window.
    m_hideWhenMinimisedCheck->setEnabled(available);
}

} // namespace ostrelle
