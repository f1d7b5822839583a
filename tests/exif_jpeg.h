// JPEG files as cameras write them: an EXIF orientation (a portrait shot from a camera held on
// its side is stored sideways) and the camera's own thumbnail.
#pragma once

#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QPainter>

#include "support/photos.h"

// `jpeg` with an EXIF segment as cameras write it: an orientation and, when given, the
// camera's small picture of the photo, stored as a JPEG in IFD1.
inline QByteArray withExif(const QByteArray& jpeg, int orientation,
                           const QImage& picture = QImage()) {
    const QByteArray thumbnail =
        picture.isNull() ? QByteArray() : photos::encoded(picture, "JPG", 90);
    QByteArray tiff;
    QDataStream out(&tiff, QIODevice::WriteOnly);         // big-endian, as "MM" says
    out << quint16(0x4D4D) << quint16(42) << quint32(8);  // IFD0 at 8: Orientation (SHORT)
    out << quint16(1) << quint16(0x0112) << quint16(3) << quint32(1) << quint16(orientation)
        << quint16(0) << quint32(thumbnail.isEmpty() ? 0 : 26);
    if (!thumbnail.isEmpty()) {  // IFD1 at 26: where the thumbnail is (56) and its length
        out << quint16(2) << quint16(0x0201) << quint16(4) << quint32(1) << quint32(56)
            << quint16(0x0202) << quint16(4) << quint32(1) << quint32(thumbnail.size())
            << quint32(0);
        out.writeRawData(thumbnail.constData(), int(thumbnail.size()));
    }
    QByteArray app1;
    QDataStream(&app1, QIODevice::WriteOnly) << quint16(0xFFE1) << quint16(8 + tiff.size());
    return jpeg.left(2) + app1 + QByteArray("Exif\0\0", 6) + tiff + jpeg.mid(2);  // after SOI
}

// A 48 x 24 JPEG, blue top-left, green bottom-left, grey right half, with EXIF orientation 6:
// upright it is 24 x 48 with green at the top left and blue at the top right. With
// `cameraThumbnail`, its EXIF also holds the 160 x 120 thumbnail a camera adds (between bars).
inline bool writePortraitJpeg(const QString& path, bool cameraThumbnail = false) {
    QImage img(48, 24, QImage::Format_RGB32), thumbnail(160, 120, QImage::Format_RGB32);
    img.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            img.setPixel(x, y, y < 12 ? qRgb(20, 40, 220) : qRgb(30, 200, 60));
    thumbnail.fill(Qt::black);
    QPainter(&thumbnail).drawImage(QRect(0, 20, 160, 80), img);
    QFile file(path);
    const QByteArray turned =
        withExif(photos::encoded(img, "JPG", 100), 6, cameraThumbnail ? thumbnail : QImage());
    return file.open(QIODevice::WriteOnly) && file.write(turned) == turned.size();
}
