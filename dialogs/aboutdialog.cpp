#include "dialogs/aboutdialog.h"

#include "dialogs/artwork.h"
#include "dialogs/controls.h"
#include "dialogs/twipslayout.h"

#include <QLabel>
#include <QPushButton>

namespace ostrelle {

Form3::Form3(QWidget* parent) : FixedDialog(QStringLiteral("About Brevikon Ostrelle"), parent)
{
    setObjectName(QStringLiteral("Form3"));
    auto* picture1 = makeNamed<QLabel>(QStringLiteral("Picture1"), this);
    picture1->setPixmap(MakerLogo());
    picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* label2 = makeLabel(QStringLiteral("Brevikon Ostrelle."), QStringLiteral("Label2"), this);
    auto* label3 = makeLabel(QStringLiteral("Version: 1.0.001 12 Jan 2006"), QStringLiteral("Label3"), this);
    auto* label1 = makeLabel(QStringLiteral("Copyright (C) 2006 Brevikon Ltd. All rights reserved."),
                             QStringLiteral("Label1"), this);
    auto* label4 = makeLabel(QStringLiteral("Web: www.brevikon.example"), QStringLiteral("Label4"), this);
    auto* label5 =
        makeLabel(QStringLiteral("E-mail: support@brevikon.example"), QStringLiteral("Label5"), this);
    auto* label6 = makeLabel(QStringLiteral("Tel: +44 20 7946 0321"), QStringLiteral("Label6"), this);
    auto* command1 = makeButton(QStringLiteral("OK"), QStringLiteral("Command1"), this);
    command1->setFocus();
    connect(command1, &QPushButton::clicked, this, &Form3::Command1_Click);

    TwipsLayout layout(this, 5616, 1824);
    layout.place(picture1, 120, 120, 1668, 492);
    layout.place(label2, 1920, 120, 2292, 252);
    layout.place(label3, 1920, 360, 2172, 252);
    layout.place(label1, 1920, 600, 3492, 252);
    layout.place(label4, 1920, 960, 2172, 252);
    layout.place(label5, 1920, 1200, 2412, 252);
    layout.place(label6, 1920, 1440, 2292, 252);
    layout.place(command1, 480, 1200, 972, 372);
    layout.apply();
}

void Form3::Command1_Click()
{
    hide();
}

} // namespace ostrelle
