#include "dialogs/aboutdialog.h"
#include "dialogs/artwork.h"

#include <QLabel>
#include <QSet>
#include <QTest>

using namespace ostrelle;

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowTheTextsAndTheLogoPixelForPixel()
    {
        Form3 dialog(nullptr);
        QStringList texts;
        for (const char* name : {"Label2", "Label3", "Label1", "Label4", "Label5", "Label6"})
            texts << dialog.findChild<QLabel*>(name)->text();
        QCOMPARE(texts, (QStringList{"Brevikon Ostrelle.", "Version: 1.0.001 12 Jan 2006",
                                     "Copyright (C) 2006 Brevikon Ltd. All rights reserved.",
                                     "Web: www.brevikon.example", "E-mail: support@brevikon.example",
                                     "Tel: +44 20 7946 0321"}));

        // The 139 x 41 logo from the picture's top left corner, neither scaled nor framed nor centred.
        const QImage logo = MakerLogo().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage shown = dialog.findChild<QLabel*>("Picture1")->grab().toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32).copy(0, 0, 139, 41), logo);
        int drawn = 0; // the maker's name, not a blank plate
        for (int i = 0; i < logo.width() * logo.height(); ++i)
            drawn += logo.pixel(i % logo.width(), i / logo.width()) != logo.pixel(0, 0) ? 1 : 0;
        QCOMPARE_GT(drawn, logo.width() * logo.height() / 10);
    }

    void shouldDrawTheIconForEachSizeInPaletteColours_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("32 x 32") << 32;
        QTest::newRow("16 x 16") << 16;
    }

    void shouldDrawTheIconForEachSizeInPaletteColours()
    {
        QFETCH(int, size);
        const QImage image = ProgramIconImage(size);
        // Square, and drawn for its size rather than scaled from the other one.
        QCOMPARE(ProgramIcon().pixmap(size, size).toImage().convertToFormat(image.format()), image);

        // The sixteen colours: the dark and the bright corners of the colour cube, and silver.
        QSet<QRgb> palette = {qRgb(192, 192, 192)};
        for (int level : {128, 255})
            for (int rgb = 0; rgb < 8; ++rgb)
                palette << qRgb(rgb & 4 ? level : 0, rgb & 2 ? level : 0, rgb & 1 ? level : 0);
        QSet<QRgb> used;
        for (int i = 0; i < size * size; ++i)
            used << image.pixel(i % size, i / size);
        used.removeIf([](QRgb pixel) { return qAlpha(pixel) == 0; });
        QVERIFY(palette.contains(used));
        // Mast, waves and clock face in several colours on a transparent ground.
        QCOMPARE_GE(used.size(), 5);
        QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(size - 1, 0)), 0);
    }
};

QTEST_MAIN(TestAboutDialog)
#include "test_aboutdialog.moc"
