#include "dialogs/addserverdialog.h"

#include "dialogs/kit/controls.h"
#include "dialogs/kit/twipslayout.h"
#include "platform/messagedialog.h"
#include "servers/servername.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace ostrelle {

namespace {

const QStringList PublicServers = {
    QStringLiteral("pool.ntp.org"),        QStringLiteral("time.nist.gov"),
    QStringLiteral("ptbtime1.ptb.de"),     QStringLiteral("ntp.nict.jp"),
    QStringLiteral("time.nrc.ca"),         QStringLiteral("time.google.com"),
    QStringLiteral("time.cloudflare.com"), QStringLiteral("time.apple.com"),
    QStringLiteral("time.windows.com"),
};

} // namespace

AddServerDialog::AddServerDialog(MessageDialog& messages, QWidget* parent)
    : FixedDialog(QStringLiteral("Add NTP Server"), parent), m_messages(messages)
{
    setObjectName(QStringLiteral("Form2"));
    auto* label = makeLabel(QStringLiteral("NTP Server:"), QStringLiteral("Label1"), this);
    m_serverCombo = makeNamed<QComboBox>(QStringLiteral("ComboNtp"), this);
    m_serverCombo->setEditable(true);
    m_serverCombo->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed prefix into a listed name; the name must stay as typed.
    m_serverCombo->setCompleter(nullptr);
    m_serverCombo->addItems(PublicServers);
    m_serverCombo->setCurrentIndex(-1);
    m_serverCombo->clearEditText();
    auto* okButton = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    auto* cancelButton = makeButton(QStringLiteral("Cancel"), QStringLiteral("Command2"), this);

    setTabOrder(okButton, cancelButton);
    setTabOrder(cancelButton, m_serverCombo);
    okButton->setFocus();
    connect(okButton, &QPushButton::clicked, this, &AddServerDialog::tryAccept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    TwipsLayout layout(this, 3264, 1332);
    layout.place({
        {label, 240, 240, 972, 252},
        {m_serverCombo, 1200, 240, 1932, 288},
        {okButton, 600, 720, 972, 372},
        {cancelButton, 1680, 720, 972, 372},
    });
    layout.apply();
}

QString AddServerDialog::serverName() const
{
    return TypedServerName(m_serverCombo->currentText());
}

void AddServerDialog::tryAccept()
{
    const auto refuse = [this](const QString& why) {
        m_messages.show(why, QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                        MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
    };
    switch (CheckServerName(serverName())) {
    case ServerNameCheck::Blank:
        refuse(QStringLiteral("Please enter the name or address of an NTP server."));
        return;
    case ServerNameCheck::TooLong:
        refuse(QStringLiteral("A server name cannot be longer than %1 characters.").arg(MaxServerNameLength));
        return;
    case ServerNameCheck::Malformed:
        refuse(QStringLiteral("\"%1\" is not a server Ostrelle can poll. Write a host name or address, "
                              "optionally with a port (host:123, [2001:db8::1]:123), or nts://host[:port] "
                              "for a server with Network Time Security.")
                   .arg(serverName()));
        return;
    case ServerNameCheck::Usable:
        accept();
        return;
    }
}

} // namespace ostrelle
