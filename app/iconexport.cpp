#include "dialogs/kit/artwork.h"

#include <QDir>
#include <QString>
#include <cstdio>
#include <utility>

// Writes the program's icon into an icon theme tree for installation:
// <folder>/<size>x<size>/apps/ostrelle.png for 16, 32, 48, 64, 128 and 256 pixels.
int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: ostrelle_iconexport FOLDER\n", stderr);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    // The icon is pixel art drawn at 16 and 32 pixels; the larger sizes are whole multiples of one
    // of those, enlarged without smoothing so that they stay as crisp as the originals.
    const std::pair<int, int> sizes[] = {{16, 16}, {32, 32}, {48, 16}, {64, 32}, {128, 32}, {256, 32}};
    for (const auto& [size, drawnAt] : sizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/ostrelle.png");
        const QImage image = ostrelle::ProgramIconImage(drawnAt).scaled(size, size, Qt::IgnoreAspectRatio,
                                                                        Qt::FastTransformation);
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "ostrelle_iconexport: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
