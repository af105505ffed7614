#pragma once

#include "dialogs/fixeddialog.h"

#include <QStringList>

class QComboBox;

namespace ostrelle {

class Monitor;

// "Add NTP Server": one name, typed or picked from a list of public servers, added as the
// table's new last row on OK. What was typed stays in the field while the dialog lives.
class Form2 : public FixedDialog
{
    Q_OBJECT
public:
    Form2(Monitor& monitor, QWidget* parent);

    // The names offered in the list, in the order shown.
    static const QStringList& DefaultServers();

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();

    Monitor& m_monitor;
    QComboBox* m_comboNtp;
};

} // namespace ostrelle
