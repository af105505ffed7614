#pragma once

#include "platform/messagedialog.h"

#include <QList>
#include <functional>

namespace ostrelle {

// Records every message shown and answers with the next scripted button (the default button
// when the script has run out).
class ScriptedMessageDialog final : public MessageDialog
{
public:
    struct Shown
    {
        QString text;
        QString title;
        Icon icon;
        Buttons buttons;
        Button defaultButton;
        QString detailedText;
    };

    Button show(const QString& text, const QString& title, Icon icon, Buttons buttons, Button defaultButton,
                const QString& detailedText = {}) override;

    QList<Button> answers;
    QList<Shown> shown;
    // Runs while the message is "open", to let a test act as the event loop would meanwhile.
    std::function<void()> whileOpen;
};

} // namespace ostrelle
