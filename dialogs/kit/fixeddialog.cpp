#include "dialogs/kit/fixeddialog.h"

#include "dialogs/kit/artwork.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace ostrelle {

FixedDialog::FixedDialog(const QString& caption, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(caption);
    setWindowIcon(ProgramIcon());
    setModal(true);
}

void FixedDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FixedDialog::closeEvent(QCloseEvent* event)
{
    QDialog::closeEvent(event);
    // Not Qt::WA_DeleteOnClose: that would also destroy the dialog when its own buttons end an
    // exec(), and they must only hide it.
    if (event->isAccepted())
        deleteLater();
}

} // namespace ostrelle
