#include "servers/addserverdialog.h"

#include "app/monitor.h"
#include "dialogs/controls.h"
#include "dialogs/twipslayout.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace ostrelle {

const QStringList& Form2::DefaultServers()
{
    static const QStringList names = {
        QStringLiteral("pool.ntp.org"),        QStringLiteral("time.nist.gov"),
        QStringLiteral("ptbtime1.ptb.de"),     QStringLiteral("ntp.nict.jp"),
        QStringLiteral("time.nrc.ca"),         QStringLiteral("time.google.com"),
        QStringLiteral("time.cloudflare.com"), QStringLiteral("time.apple.com"),
        QStringLiteral("time.windows.com"),
    };
    return names;
}

Form2::Form2(Monitor& monitor, QWidget* parent)
    : FixedDialog(QStringLiteral("Add NTP Server"), parent), m_monitor(monitor)
{
    setObjectName(QStringLiteral("Form2"));
    auto* label1 = makeLabel(QStringLiteral("NTP Server:"), QStringLiteral("Label1"), this);
    m_comboNtp = makeNamed<QComboBox>(QStringLiteral("ComboNtp"), this);
    m_comboNtp->setEditable(true);
    m_comboNtp->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed prefix into a listed name; the name must stay as typed.
    m_comboNtp->setCompleter(nullptr);
    auto* command1 = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    auto* command2 = makeButton(QStringLiteral("Cancel"), QStringLiteral("Command2"), this);

    setTabOrder(command1, command2);
    setTabOrder(command2, m_comboNtp);
    command1->setFocus();
    connect(command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(command2, &QPushButton::clicked, this, &Form2::Command2_Click);

    TwipsLayout layout(this, 3264, 1332);
    layout.place(label1, 240, 240, 972, 252);
    layout.place(m_comboNtp, 1200, 240, 1932, 288);
    layout.place(command1, 600, 720, 972, 372);
    layout.place(command2, 1680, 720, 972, 372);
    layout.apply();

    Form_Load();
}

void Form2::Form_Load()
{
    m_comboNtp->addItems(DefaultServers());
    m_comboNtp->setCurrentIndex(-1);
    m_comboNtp->clearEditText();
}

void Form2::Command1_Click()
{
    m_monitor.AddServer_OK(m_comboNtp->currentText());
    hide();
}

void Form2::Command2_Click()
{
    hide();
}

} // namespace ostrelle
