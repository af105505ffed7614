#pragma once

#include "dialogs/kit/fixeddialog.h"

#include <QStringList>

class QComboBox;

namespace ostrelle {

class MessageDialog;

// "Add NTP Server": one name, typed or picked from a list of public servers. OK accepts a usable
// name (emitting accepted()) and refuses a blank or over-long one with a message; what was typed
// stays in the field while the dialog lives.
class AddServerDialog : public FixedDialog
{
    Q_OBJECT
public:
    AddServerDialog(MessageDialog& messages, QWidget* parent);

    // The name as typed, without leading and trailing blanks.
    QString serverName() const;

private:
    void tryAccept();

    MessageDialog& m_messages;
    QComboBox* m_serverCombo;
};

} // namespace ostrelle
