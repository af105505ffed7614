#include "dialogs/kit/artwork.h"

#include <QDir>
#include <QString>
#include <cstdio>

// Writes the program's icon into an icon theme tree for installation:
// <folder>/16x16/apps/ostrelle.png and <folder>/32x32/apps/ostrelle.png.
int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: ostrelle_iconexport FOLDER\n", stderr);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 32}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/ostrelle.png");
        if (!QDir().mkpath(folder) || !ostrelle::ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "ostrelle_iconexport: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
