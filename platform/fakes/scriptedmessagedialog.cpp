#include "platform/fakes/scriptedmessagedialog.h"

namespace ostrelle {

MessageDialog::Button ScriptedMessageDialog::show(const QString& text, const QString& title, Icon icon,
                                                  Buttons buttons, Button defaultButton)
{
    shown.append({text, title, icon, buttons, defaultButton});
    if (whileOpen)
        whileOpen();
    return answers.isEmpty() ? defaultButton : answers.takeFirst();
}

} // namespace ostrelle
