#include "dialogs/aboutdialog.h"
#include "dialogs/artwork.h"

#include <QLabel>
#include <QTest>

using namespace ostrelle;

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowFixedTexts_data();
    void shouldShowFixedTexts();
    void shouldShowLogoAtItsOwnSizeWithoutBorder();
};

void TestAboutDialog::shouldShowFixedTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("product") << "Label2"
                             << "Brevikon Ostrelle.";
    QTest::newRow("version") << "Label3"
                             << "Version: 1.0.001 12 Jan 2006";
    QTest::newRow("copyright") << "Label1"
                               << "Copyright (C) 2006 Brevikon Ltd. All rights reserved.";
    QTest::newRow("web") << "Label4"
                         << "Web: www.brevikon.example";
    QTest::newRow("e-mail") << "Label5"
                            << "E-mail: support@brevikon.example";
    QTest::newRow("telephone") << "Label6"
                               << "Tel: +44 20 7946 0321";
}

void TestAboutDialog::shouldShowFixedTexts()
{
    QFETCH(QString, name);
    QWidget owner;
    Form3 dialog(&owner);
    auto* label = dialog.findChild<QLabel*>(name);
    QVERIFY(label);
    QTEST(label->text(), "text");
}

void TestAboutDialog::shouldShowLogoAtItsOwnSizeWithoutBorder()
{
    QWidget owner;
    Form3 dialog(&owner);
    dialog.show();
    auto* picture = dialog.findChild<QLabel*>("Picture1");
    QVERIFY(picture);

    QCOMPARE(picture->frameShape(), QFrame::NoFrame);
    QVERIFY(picture->width() >= 139 && picture->height() >= 41);
    // Pixel for pixel from the top left corner: neither scaled nor framed nor centred.
    const QImage logo = MakerLogo().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 0, 139, 41);
    QCOMPARE(shown, logo);
}

QTEST_MAIN(TestAboutDialog)
#include "test_aboutdialog.moc"
