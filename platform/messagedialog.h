#pragma once

#include <QString>

namespace ostrelle {

// A modal message for the operator. Behind an interface so that tests answer it in advance.
class MessageDialog
{
public:
    enum class Icon { None, Warning, Critical };
    enum class Buttons { Ok, YesNo };
    enum class Button { Ok, Yes, No };

    virtual ~MessageDialog() = default;

    // Shows the message and returns the button the operator pressed. A detailed text, when given,
    // is there for the operator who asks for it (why the system refused, say).
    virtual Button show(const QString& text, const QString& title, Icon icon, Buttons buttons,
                        Button defaultButton, const QString& detailedText = {}) = 0;
};

} // namespace ostrelle
