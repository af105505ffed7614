#pragma once

#include <QString>
#include <utility>

class QLabel;
class QPushButton;
class QWidget;

namespace ostrelle {

// Every control carries its control name, by which the tests (and anyone debugging) find it.
template <typename Control, typename... Args> Control* makeNamed(const QString& name, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)...);
    control->setObjectName(name);
    return control;
}

QLabel* makeLabel(const QString& text, const QString& name, QWidget* parent);

// A push button that only a click or the space bar presses: no window binds Enter or Escape.
QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent);

} // namespace ostrelle
