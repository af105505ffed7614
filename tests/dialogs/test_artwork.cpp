#include "dialogs/artwork.h"

#include <QSet>
#include <QTest>

using namespace ostrelle;

class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void shouldDrawIconInPaletteColoursOnly_data();
    void shouldDrawIconInPaletteColoursOnly();
    void shouldOfferIconAtBothSizes();
    void shouldDrawLogoAtItsOwnSize();
};

void TestArtwork::shouldDrawIconInPaletteColoursOnly_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("32 x 32") << 32;
    QTest::newRow("16 x 16") << 16;
}

void TestArtwork::shouldDrawIconInPaletteColoursOnly()
{
    QFETCH(int, size);
    // The sixteen colours: the dark and the bright corners of the colour cube, and silver.
    QSet<QRgb> palette = {qRgb(192, 192, 192)};
    for (int level : {128, 255})
        for (int rgb = 0; rgb < 8; ++rgb)
            palette.insert(qRgb(rgb & 4 ? level : 0, rgb & 2 ? level : 0, rgb & 1 ? level : 0));
    const QImage image = ProgramIconImage(size);
    QCOMPARE(image.size(), QSize(size, size));

    QSet<QRgb> used;
    int opaque = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            QVERIFY2(qAlpha(pixel) == 255 && palette.contains(pixel),
                     qPrintable(QStringLiteral("colour %1 at %2,%3").arg(pixel, 8, 16).arg(x).arg(y)));
            used.insert(pixel);
            ++opaque;
        }
    }
    // Mast, waves and clock face: several colours over a good part of a transparent square.
    QVERIFY(used.size() >= 5);
    QVERIFY(opaque >= size * size / 5);
    QVERIFY(opaque < size * size / 2);
}

void TestArtwork::shouldOfferIconAtBothSizes()
{
    const QIcon icon = ProgramIcon();
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
    // The small size is drawn for its size, not scaled down from the large one.
    QCOMPARE(icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32),
             ProgramIconImage(16));
}

void TestArtwork::shouldDrawLogoAtItsOwnSize()
{
    const QImage logo = MakerLogo().toImage();
    QCOMPARE(logo.size(), QSize(139, 41));
    int drawn = 0;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            drawn += logo.pixel(x, y) != logo.pixel(0, 0) ? 1 : 0;
    QVERIFY2(drawn > logo.width() * logo.height() / 10, "the name is missing from the logo");
}

QTEST_MAIN(TestArtwork)
#include "test_artwork.moc"
