#include "platform/fakes/scriptedmessagedialog.h"

namespace ostrelle {

MessageDialog::Button ScriptedMessageDialog::show(const QString& text, const QString& title, Icon icon,
                                                  Buttons buttons, Button defaultButton,
                                                  const QString& detailedText)
{
    shown.append({text, title, icon, buttons, defaultButton, detailedText});
    if (whileOpen)
        whileOpen();
    return answers.isEmpty() ? defaultButton : answers.takeFirst();
}

} // namespace ostrelle
