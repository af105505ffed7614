#include "dialogs/optionsdialog.h"

#include "app/monitor.h"
#include "dialogs/controls.h"
#include "dialogs/optionsvalues.h"
#include "dialogs/twipslayout.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

namespace ostrelle {

namespace {

QSlider* makeSlider(const SliderRange& range, const QString& name, QWidget* parent)
{
    auto* slider = makeNamed<QSlider>(name, Qt::Horizontal, parent);
    slider->setRange(range.minimum, range.maximum);
    slider->setSingleStep(range.smallStep);
    slider->setPageStep(range.largeStep);
    slider->setTickInterval(range.tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    return slider;
}

QString minutesLabel(int minutes)
{
    return MinutesText(minutes * 60LL);
}

QString stratumLabel(int stratum)
{
    return NumberText(stratum);
}

// Puts the widest text the label can come to show into it, the one it holds included.
void showWidest(QLabel* label, const SliderRange& range, QString (*text)(int))
{
    const QFontMetrics metrics = label->fontMetrics();
    QString widest = label->text();
    for (int value = range.minimum; value <= range.maximum; ++value) {
        if (metrics.horizontalAdvance(text(value)) > metrics.horizontalAdvance(widest))
            widest = text(value);
    }
    label->setText(widest);
}

} // namespace

Form4::Form4(Monitor& monitor, QWidget* parent)
    : FixedDialog(QStringLiteral("Ostrelle Options"), parent), m_monitor(monitor)
{
    setObjectName(QStringLiteral("Form4"));
    m_frame2 = makeNamed<QGroupBox>(QStringLiteral("Frame2"), QStringLiteral("System Time"), this);
    m_checkAdj = makeNamed<QCheckBox>(QStringLiteral("CheckAdj"), QStringLiteral("Adjust System Time"), m_frame2);
    m_frame1 = makeNamed<QGroupBox>(QStringLiteral("Frame1"), QStringLiteral("NTP Polling Frequency "), this);
    m_slider1 = makeSlider(PollMinutesRange, QStringLiteral("Slider1"), m_frame1);
    m_label1 = makeLabel(QString(), QStringLiteral("Label1"), m_frame1);
    m_frame3 =
        makeNamed<QGroupBox>(QStringLiteral("Frame3"), QStringLiteral("Highlight Reference Time Greater Than"), this);
    m_slider2 = makeSlider(RefTimeMinutesRange, QStringLiteral("Slider2"), m_frame3);
    m_label2 = makeLabel(QString(), QStringLiteral("Label2"), m_frame3);
    m_frame4 = makeNamed<QGroupBox>(QStringLiteral("Frame4"), QStringLiteral("Highlight Stratum Greater Than"), this);
    m_slider3 = makeSlider(StratumRange, QStringLiteral("Slider3"), m_frame4);
    m_label3 = makeLabel(QString(), QStringLiteral("Label3"), m_frame4);
    m_command1 = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    m_command2 = makeButton(QStringLiteral("Cancel"), QStringLiteral("Command2"), this);

    setTabOrder(m_command1, m_command2);
    setTabOrder(m_command2, m_slider1);
    setTabOrder(m_slider1, m_checkAdj);
    setTabOrder(m_checkAdj, m_slider2);
    setTabOrder(m_slider2, m_slider3);
    m_command1->setFocus();

    connect(m_slider1, &QSlider::valueChanged, this, &Form4::Slider1_Scroll);
    connect(m_slider2, &QSlider::valueChanged, this, &Form4::Slider2_Scroll);
    connect(m_slider3, &QSlider::valueChanged, this, &Form4::Slider3_Scroll);
    connect(m_command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &Form4::Command2_Click);

    Form_Load();
    layOut();
}

void Form4::layOut()
{
    // Sized for the widest text each label can show, so that moving a slider never clips it.
    const QString loaded[] = {m_label1->text(), m_label2->text(), m_label3->text()};
    showWidest(m_label1, PollMinutesRange, minutesLabel);
    showWidest(m_label2, RefTimeMinutesRange, minutesLabel);
    showWidest(m_label3, StratumRange, stratumLabel);

    TwipsLayout layout(this, 3480, 4272);
    layout.place(m_frame2, 120, 120, 3252, 612);
    layout.place(m_checkAdj, 240, 240, 2052, 252);
    layout.place(m_frame1, 120, 840, 3252, 732);
    layout.place(m_slider1, 120, 240, 2292, 372);
    layout.place(m_label1, 2520, 360, 612, 252);
    layout.place(m_frame3, 120, 1680, 3252, 732);
    layout.place(m_slider2, 120, 240, 2292, 372);
    layout.place(m_label2, 2520, 360, 612, 252);
    layout.place(m_frame4, 120, 2520, 3252, 732);
    layout.place(m_slider3, 120, 240, 2292, 372);
    layout.place(m_label3, 2520, 360, 612, 252);
    layout.place(m_command1, 600, 3600, 972, 372);
    layout.place(m_command2, 1800, 3600, 972, 372);
    layout.apply();

    m_label1->setText(loaded[0]);
    m_label2->setText(loaded[1]);
    m_label3->setText(loaded[2]);
}

void Form4::Form_Load()
{
    const Settings& settings = m_monitor.settings();
    // Filling the sliders is not the operator moving them: the labels keep the exact values.
    const QSignalBlocker block1(m_slider1);
    const QSignalBlocker block2(m_slider2);
    const QSignalBlocker block3(m_slider3);

    m_checkAdj->setChecked(settings.SysTimeAdj == 1);
    m_label1->setText(MinutesText(settings.NtpPoll));
    m_slider1->setValue(SliderPosition(RoundedMinutes(settings.NtpPoll), PollMinutesRange));
    m_label2->setText(MinutesText(settings.RefTimeHighlight));
    m_slider2->setValue(SliderPosition(RoundedMinutes(settings.RefTimeHighlight), RefTimeMinutesRange));
    m_label3->setText(NumberText(settings.StratumHighlight));
    m_slider3->setValue(SliderPosition(settings.StratumHighlight, StratumRange));
}

void Form4::Slider1_Scroll()
{
    m_label1->setText(minutesLabel(m_slider1->value()));
}

void Form4::Slider2_Scroll()
{
    m_label2->setText(minutesLabel(m_slider2->value()));
}

void Form4::Slider3_Scroll()
{
    m_label3->setText(stratumLabel(m_slider3->value()));
}

void Form4::Command1_Click()
{
    Settings chosen = m_monitor.settings();
    chosen.SysTimeAdj = m_checkAdj->isChecked() ? 1 : 0;
    chosen.NtpPoll = m_slider1->value() * 60;
    chosen.RefTimeHighlight = m_slider2->value() * 60;
    chosen.StratumHighlight = static_cast<std::int16_t>(m_slider3->value());
    m_monitor.Options_OK(chosen);
    hide();
}

void Form4::Command2_Click()
{
    hide();
}

} // namespace ostrelle
