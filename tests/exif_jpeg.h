// A portrait shot as a camera held on its side writes it: stored sideways, EXIF says turn it.
#pragma once

#include <QBuffer>
#include <QFile>
#include <QImage>

// A 48 x 24 JPEG, blue top-left, green bottom-left, grey right half, with EXIF orientation 6:
// upright it is 24 x 48 with green at the top left and blue at the top right.
inline bool writePortraitJpeg(const QString& path) {
    QImage img(48, 24, QImage::Format_RGB32);
    img.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            img.setPixel(x, y, y < 12 ? qRgb(20, 40, 220) : qRgb(30, 200, 60));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !img.save(&buffer, "JPG", 100))
        return false;
    // APP1: "Exif", a big-endian TIFF header, one IFD whose only entry is Orientation (SHORT) 6.
    static const char app1[] =
        "\xFF\xE1\0\042Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0";
    jpeg.insert(2, app1, sizeof app1 - 1);  // right after the start-of-image marker
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(jpeg) == jpeg.size();
}
