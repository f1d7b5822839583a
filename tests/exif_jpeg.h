// JPEG files as cameras write them: an EXIF orientation (a portrait shot from a camera held on
// its side is stored sideways) and the camera's own thumbnail.
#pragma once

#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QPainter>

#include "support/photos.h"

// `jpeg` with `tiff` as its EXIF segment, right after the start of image.
inline QByteArray withExifBlock(const QByteArray& jpeg, const QByteArray& tiff) {
    QByteArray app1;
    QDataStream(&app1, QIODevice::WriteOnly) << quint16(0xFFE1) << quint16(8 + tiff.size());
    return jpeg.left(2) + app1 + QByteArray("Exif\0\0", 6) + tiff + jpeg.mid(2);
}

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
    return withExifBlock(jpeg, tiff);
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

// An EXIF block as a camera writes it (big-endian): make, model and the times in IFD0 with an
// orientation, the capture times and colour space in the EXIF IFD, and, when `interop` is
// given, an interoperability IFD with that index ("R03": Adobe RGB).
inline QByteArray cameraExif(const QByteArray& make, const QByteArray& model,
                             const QByteArray& taken, quint16 colourSpace,
                             const QByteArray& interop = QByteArray()) {
    // Entries of 12 bytes; values longer than 4 bytes go to `data`, placed after all IFDs.
    struct Entry {
        quint16 tag, type;
        QByteArray value;  // ASCII with its NUL, or a SHORT/LONG as 4 raw bytes
        quint32 count;
    };
    const auto ascii = [](quint16 tag, const QByteArray& text) {
        return Entry{tag, 2, text + '\0', quint32(text.size() + 1)};
    };
    const auto number = [](quint16 tag, quint16 type, quint32 v) {
        QByteArray b;
        QDataStream s(&b, QIODevice::WriteOnly);
        if (type == 3)
            s << quint16(v) << quint16(0);
        else
            s << v;
        return Entry{tag, type, b, 1};
    };
    QList<Entry> ifd0 = {ascii(0x010F, make), ascii(0x0110, model), number(0x0112, 3, 6),
                         ascii(0x0132, taken), number(0x8769, 4, 0)};
    QList<Entry> exif = {ascii(0x9003, taken), ascii(0x9004, taken),
                         number(0xA001, 3, colourSpace)};
    QList<Entry> inter;
    if (!interop.isEmpty()) {
        exif.append(number(0xA005, 4, 0));
        inter.append(ascii(0x0001, interop));
    }
    const auto ifdSize = [](const QList<Entry>& e) { return e.isEmpty() ? 0 : 6 + 12 * e.size(); };
    const quint32 exifAt = 8 + ifdSize(ifd0), interAt = exifAt + ifdSize(exif);
    ifd0[4] = number(0x8769, 4, exifAt);
    if (!inter.isEmpty())
        exif.last() = number(0xA005, 4, interAt);
    QByteArray tiff, data;
    QDataStream out(&tiff, QIODevice::WriteOnly);
    out << quint16(0x4D4D) << quint16(42) << quint32(8);
    const quint32 dataAt = interAt + ifdSize(inter);
    for (const QList<Entry>* ifd : {&ifd0, &exif, &inter}) {
        if (ifd->isEmpty())
            continue;
        out << quint16(ifd->size());
        for (const Entry& e : *ifd) {
            out << e.tag << e.type << e.count;
            if (e.value.size() <= 4) {
                out.writeRawData(e.value.leftJustified(4, '\0').constData(), 4);
            } else {
                out << quint32(dataAt + data.size());
                data += e.value;
            }
        }
        out << quint32(0);
    }
    return tiff + data;
}
