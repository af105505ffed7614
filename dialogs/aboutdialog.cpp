#include "dialogs/aboutdialog.h"

#include "dialogs/kit/artwork.h"
#include "dialogs/kit/controls.h"
#include "dialogs/kit/twipslayout.h"

#include <QLabel>
#include <QPushButton>

namespace ostrelle {

AboutDialog::AboutDialog(QWidget* parent) : FixedDialog(QStringLiteral("About Brevikon Ostrelle"), parent)
{
    setObjectName(QStringLiteral("Form3"));
    auto* logo = makeNamed<QLabel>(QStringLiteral("Picture1"), this);
    logo->setPixmap(MakerLogo());
    logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const auto line = [this](const char* text, const char* name) {
        return makeLabel(QString::fromLatin1(text), QString::fromLatin1(name), this);
    };
    auto* okButton = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    okButton->setFocus();
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    TwipsLayout layout(this, 5616, 1824);
    layout.place({
        {logo, 120, 120, 1668, 492},
        {line("Brevikon Ostrelle.", "Label2"), 1920, 120, 2292, 252},
        {line("Version: 1.0.001 12 Jan 2006", "Label3"), 1920, 360, 2172, 252},
        {line("Copyright (C) 2006 Brevikon Ltd. All rights reserved.", "Label1"), 1920, 600, 3492, 252},
        {line("Web: www.brevikon.example", "Label4"), 1920, 960, 2172, 252},
        {line("E-mail: support@brevikon.example", "Label5"), 1920, 1200, 2412, 252},
        {line("Tel: +44 20 7946 0321", "Label6"), 1920, 1440, 2292, 252},
        {okButton, 480, 1200, 972, 372},
    });
    layout.apply();
}

} // namespace ostrelle
