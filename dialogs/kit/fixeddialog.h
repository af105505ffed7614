#pragma once

#include <QDialog>

namespace ostrelle {

// What the program's dialogs have in common: a fixed size, a title bar with a close button only,
// the program's icon, modal over the window that opens them. Their own buttons hide them, so an
// opening shows what the operator left there; the title bar's close button destroys them, so the
// next opening starts afresh. No key is bound to a button: Enter and Escape do nothing.
class FixedDialog : public QDialog
{
    Q_OBJECT
public:
    FixedDialog(const QString& caption, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

} // namespace ostrelle
