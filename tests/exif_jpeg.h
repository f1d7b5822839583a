// A JPEG carrying an EXIF orientation, as a camera writes a shot taken held on its side.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>

// Saves `stored` as a JPEG at `path` with an EXIF segment holding only the orientation tag.
inline bool writeOrientedJpeg(const QImage& stored, quint16 orientation, const QString& path) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !stored.save(&buffer, "JPG", 100))
        return false;
    // Big-endian TIFF header, one IFD holding one SHORT entry (0x0112), no next IFD.
    const char tiff[] = {'M',
                         'M',
                         0,
                         42,
                         0,
                         0,
                         0,
                         8,
                         0,
                         1,
                         0x01,
                         0x12,
                         0,
                         3,
                         0,
                         0,
                         0,
                         1,
                         char(orientation >> 8),
                         char(orientation & 0xff),
                         0,
                         0,
                         0,
                         0,
                         0,
                         0};
    const QByteArray body = QByteArray("Exif\0\0", 6) + QByteArray(tiff, sizeof tiff);
    const int length = body.size() + 2;
    QByteArray app1("\xFF\xE1", 2);
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    jpeg.insert(2, app1 + body);  // right after the start-of-image marker
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(jpeg) == jpeg.size();
}

// A 48 x 24 picture stored on its side: blue top-left, green bottom-left, grey right half.
// Turned upright (orientation 6, a quarter turn clockwise) it is 24 x 48 with green at the
// top left and blue at the top right.
inline QImage sidewaysShot() {
    QImage img(48, 24, QImage::Format_RGB32);
    img.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 24; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < 24; ++x)
            row[x] = y < 12 ? qRgb(20, 40, 220) : qRgb(30, 200, 60);
    }
    return img;
}
