#include "platform/widgetmessagedialog.h"

#include <QMessageBox>

namespace ostrelle {

namespace {

QMessageBox::StandardButton standardButton(MessageDialog::Button button)
{
    switch (button) {
    case MessageDialog::Button::Yes:
        return QMessageBox::Yes;
    case MessageDialog::Button::No:
        return QMessageBox::No;
    case MessageDialog::Button::Ok:
        break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon boxIcon(MessageDialog::Icon icon)
{
    switch (icon) {
    case MessageDialog::Icon::Warning:
        return QMessageBox::Warning;
    case MessageDialog::Icon::Critical:
        return QMessageBox::Critical;
    case MessageDialog::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageDialog::Button WidgetMessageDialog::show(const QString& text, const QString& title, Icon icon,
                                                Buttons buttons, Button defaultButton,
                                                const QString& detailedText)
{
    const QMessageBox::StandardButtons shown =
        buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok;
    QMessageBox box(boxIcon(icon), title, text, shown, m_parent);
    box.setDefaultButton(standardButton(defaultButton));
    if (!detailedText.isEmpty())
        box.setDetailedText(detailedText);
    const int pressed = box.exec();
    if (pressed == QMessageBox::Yes)
        return Button::Yes;
    if (pressed == QMessageBox::No)
        return Button::No;
    // Escape or the title-bar close on a Yes/No question is a "No".
    return buttons == Buttons::YesNo ? Button::No : Button::Ok;
}

} // namespace ostrelle
