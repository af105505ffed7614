#include "dialogs/kit/artwork.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QSaveFile>
#include <QString>
#include <cstdio>
#include <utility>

namespace {

// The icon is pixel art drawn at 16 and 32 pixels; the larger sizes are whole multiples of one of
// those, enlarged without smoothing so that they stay as crisp as the originals.
QImage IconAt(int size, int drawnAt)
{
    return ostrelle::ProgramIconImage(drawnAt).scaled(size, size, Qt::IgnoreAspectRatio,
                                                      Qt::FastTransformation);
}

// <folder>/<size>x<size>/apps/ostrelle.png for 16, 32, 48, 64, 128 and 256 pixels.
bool WriteIconTheme(const QString& root)
{
    const std::pair<int, int> sizes[] = {{16, 16}, {32, 32}, {48, 16}, {64, 32}, {128, 32}, {256, 32}};
    for (const auto& [size, drawnAt] : sizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/ostrelle.png");
        if (!QDir().mkpath(folder) || !IconAt(size, drawnAt).save(file, "PNG")) {
            std::fprintf(stderr, "ostrelle_iconexport: cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

// A Windows .ico holding 16, 32, 48 and 256 pixels, each image stored as PNG (which Windows reads
// since Vista): Qt's own ICO writer stores one image only.
bool WriteWindowsIcon(const QString& file)
{
    const std::pair<int, int> sizes[] = {{16, 16}, {32, 32}, {48, 16}, {256, 32}};
    QList<QByteArray> images;
    for (const auto& [size, drawnAt] : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        IconAt(size, drawnAt).save(&buffer, "PNG");
        images.append(png);
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size()); // reserved, an icon, how many
    quint32 offset = 6 + 16 * quint32(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const quint8 side = sizes[i].first == 256 ? 0 : quint8(sizes[i].first); // 0 stands for 256
        // Width, height, no palette, reserved, one colour plane, 32 bits a pixel, length, where.
        out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(images.at(i).size()) << offset;
        offset += quint32(images.at(i).size());
    }
    for (const QByteArray& png : std::as_const(images))
        out.writeRawData(png.constData(), int(png.size()));
    QSaveFile saved(file);
    if (!saved.open(QIODevice::WriteOnly) || saved.write(ico) != ico.size() || !saved.commit()) {
        std::fprintf(stderr, "ostrelle_iconexport: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

} // namespace

// Writes the program's icon: into an icon theme tree for the Linux desktop, or with --ico into the
// .ico file that a Windows build puts in the program's resources and the installer's shortcuts.
int main(int argc, char* argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--ico")
        return WriteWindowsIcon(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc != 2) {
        std::fputs("usage: ostrelle_iconexport FOLDER | --ico FILE\n", stderr);
        return 2;
    }
    return WriteIconTheme(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
