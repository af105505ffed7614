#pragma once

#include "platform/messagedialog.h"

#include <QPointer>
#include <QWidget>

namespace ostrelle {

// The real message box: a QMessageBox, modal over the given window.
class WidgetMessageDialog final : public MessageDialog
{
public:
    explicit WidgetMessageDialog(QWidget* parent = nullptr) : m_parent(parent) {}

    void setParentWidget(QWidget* parent) { m_parent = parent; }

    Button show(const QString& text, const QString& title, Icon icon, Buttons buttons, Button defaultButton,
                const QString& detailedText = {}) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace ostrelle
