// Hostile files, made as an attacker would: decompression bombs in metadata, JPEG scan bombs,
// looping TIFF pages, headers claiming sizes no camera makes.
#pragma once

#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include "support/photos.h"

namespace hostile {

// A plain green `w` x `h` photo.
inline QImage green(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(20, 200, 40));
    return img;
}

inline QByteArray be32(quint32 v) {
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// One PNG chunk, its CRC included.
inline QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray body = type + data;
    return be32(quint32(data.size())) + body +
           be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// An 8 x 8 PNG carrying `count` text chunks of `type` (zTXt or iTXt), each inflating to `bytes`.
inline QByteArray textBomb(const char* type, int count, int bytes) {
    QByteArray png = photos::encoded(green(8, 8), "PNG");
    const QByteArray packed = qCompress(QByteArray(bytes, 'a'), 9).mid(4);  // the zlib stream
    const QByteArray data = QByteArray(type) == "iTXt"
                                ? QByteArray("Comment\0\1\0\0\0", 12) + packed
                                : QByteArray("Comment\0\0", 9) + packed;
    QByteArray chunks;
    for (int i = 0; i < count; ++i)
        chunks += pngChunk(type, data);
    return png.insert(png.size() - 12, chunks);  // before IEND
}

// A PNG whose header claims `w` x `h`.
inline QByteArray pngClaiming(quint32 w, quint32 h) {
    QByteArray ihdr = be32(w) + be32(h) + QByteArray("\x08\x02\0\0\0", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", qCompress(QByteArray(64, '\0')).mid(4)) + pngChunk("IEND", {});
}

// A small progressive JPEG as an encoder writes it.
inline QByteArray progressiveJpeg(int w = 64, int h = 48) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(green(w, h));
    return jpeg;
}

// A progressive JPEG whose last scan is repeated `times` over: each repeat refines bits that
// are already final, so it cannot add detail.
inline QByteArray repeatedScans(int times) {
    QByteArray jpeg = progressiveJpeg();
    const qsizetype last = jpeg.lastIndexOf("\xff\xda"), end = jpeg.size() - 2;
    const QByteArray scan = jpeg.mid(last, end - last);
    for (int i = 0; i < times; ++i)
        jpeg.insert(end, scan);
    return jpeg;
}

// A progressive JPEG of `count` scans, each one a sound next step (the DC bits, then every AC
// coefficient of each component on its own), with no data in them.
inline QByteArray manyScans(int count) {
    const QByteArray jpeg = progressiveJpeg();
    QByteArray out = jpeg.left(jpeg.indexOf("\xff\xda"));
    const qsizetype sof = out.indexOf("\xff\xc2");
    const int components = quint8(out[sof + 9]);
    const auto sos = [&](const QList<int>& ids, int ss, int se, int ah, int al) {
        QByteArray s("\xff\xda", 2);
        s += char(0), s += char(6 + 2 * ids.size()), s += char(ids.size());
        for (int id : ids)
            s += char(id), s += char(0);
        s += char(ss), s += char(se), s += char(ah << 4 | al);
        return s + QByteArray(1, '\0');
    };
    QList<int> ids;
    for (int c = 0; c < components; ++c)
        ids << quint8(out[sof + 10 + 3 * c]);
    int made = 0;
    for (int al = 13; al >= 0 && made < count; --al, ++made)
        out += sos(ids, 0, 0, al == 13 ? 0 : al + 1, al);
    for (int k = 1; k <= 63 && made < count; ++k)
        for (int c = 0; c < components && made < count; ++c, ++made)
            out += sos({ids[c]}, k, k, 0, 13);
    for (int k = 1; k <= 63 && made < count; ++k)
        for (int c = 0; c < components && made < count; ++c, ++made)
            out += sos({ids[c]}, k, k, 13, 12);
    return out + QByteArray("\xff\xd9", 2);
}

// A small TIFF with its first page's directory edited: `tag`'s value set to `value`, or with
// `tag` 0, the page named as its own next one.
inline QByteArray editedTiff(int tag, quint32 value) {
    QByteArray tiff = photos::encoded(green(16, 12), "TIFF");
    const bool little = tiff.startsWith("II");
    const auto number = [&](qsizetype at, int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= quint32(quint8(tiff[at + i])) << 8 * (little ? i : bytes - 1 - i);
        return v;
    };
    const auto put = [&](qsizetype at, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff[at + i] = char(v >> 8 * (little ? i : bytes - 1 - i));
    };
    const quint32 ifd = number(4, 4), count = number(ifd, 2);
    if (tag == 0)
        put(ifd + 2 + 12 * count, ifd, 4);
    for (quint32 i = 0; i < count; ++i)
        if (int(number(ifd + 2 + 12 * i, 2)) == tag)
            put(ifd + 2 + 12 * i + 8, value, number(ifd + 4 + 12 * i, 2) == 3 ? 2 : 4);
    return tiff;
}

// A BMP whose header claims `w` x `h`.
inline QByteArray bmpClaiming(qint32 w, qint32 h) {
    QByteArray bmp = photos::encoded(green(4, 4), "BMP");
    qToLittleEndian(w, bmp.data() + 18);
    qToLittleEndian(h, bmp.data() + 22);
    return bmp;
}

}  // namespace hostile
