// Writes the fuzzer's seed corpus: one small photo in each format the loader reads, and a
// camera's JPEG with its EXIF thumbnail.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <cstdio>

#include "tests/exif_jpeg.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(dir.path());
    // A green backdrop with a subject, so the keyers have something to key.
    QImage img(24, 16, QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            row[x] =
                (x > 6 && x < 18 && y > 3) ? qRgba(x * 10, y * 12, 90, 200 + y) : qRgb(30, 200, 60);
    }
    const char* formats[] = {"jpg", "png", "bmp", "tiff", "xpm"};
    for (const char* format : formats) {
        const QString path = dir.filePath(QStringLiteral("seed.") + QLatin1String(format));
        const QImage out =
            qstrcmp(format, "png") == 0 ? img : img.convertToFormat(QImage::Format_RGB32);
        if (!out.save(path, format)) {
            std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    // A camera's JPEG: turned by its EXIF orientation, with its own small thumbnail.
    QFile camera(dir.filePath(QStringLiteral("seed-camera.jpg")));
    const QByteArray jpeg =
        withExif(photos::encoded(img.convertToFormat(QImage::Format_RGB32), "JPG"), 6,
                 img.scaled(160, 120).convertToFormat(QImage::Format_RGB32));
    if (!camera.open(QIODevice::WriteOnly) || camera.write(jpeg) != jpeg.size()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(camera.fileName()));
        return 1;
    }
    return 0;
}
