#include "dialogs/kit/controls.h"

#include <QLabel>
#include <QPushButton>

namespace ostrelle {

QLabel* makeLabel(const QString& text, const QString& name, QWidget* parent)
{
    return makeNamed<QLabel>(name, text, parent);
}

QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent)
{
    auto* button = makeNamed<QPushButton>(name, caption, parent);
    // An auto-default button would become the Enter key's target whenever it has the focus.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace ostrelle
