// Reading photo files: large photos, broken files, and the decoded-photo cache.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "core/photofile.h"
#include "qt_printers.h"

namespace {

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray chunk(const QByteArray& type, const QByteArray& body) {
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), out.data());
    out += type + body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32(type + body), crc.data());
    return out + crc;
}

// A PNG whose header claims `width` x `height` RGBA pixels, followed by a scrap of data.
QByteArray pngHeader(quint32 width, quint32 height) {
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(width, ihdr.data());
    qToBigEndian<quint32>(height, ihdr.data() + 4);
    ihdr[8] = 8;  // bits per channel
    ihdr[9] = 6;  // RGBA
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", QByteArray(16, '\0')) + chunk("IEND", QByteArray());
}

void touchLater(const QString& path, int seconds) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(seconds),
                              QFileDevice::FileModificationTime));
}

}  // namespace

TEST(LoadPhoto, HundredMegapixelPhotoLoads) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("medium-format.jpg");
    {
        // 100.8 megapixels: decoded to 32-bit pixels that is 403 MB, beyond Qt's default limit.
        QImage big(12000, 8400, QImage::Format_RGB32);
        big.fill(qRgb(40, 180, 60));
        ASSERT_TRUE(big.save(path, "JPG", 50));
    }
    const QImage photo = loadPhoto(path);
    ASSERT_FALSE(photo.isNull());
    EXPECT_EQ(photo.size(), QSize(12000, 8400));
    EXPECT_GT(photo.sizeInBytes(), qsizetype(256) * 1024 * 1024);
}

TEST(LoadPhoto, AbsurdHeaderSizeFailsCleanly) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("huge.png");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(pngHeader(100000, 100000));  // 10 gigapixels, 40 GB of pixels
    f.close();
    EXPECT_TRUE(loadPhoto(path).isNull());
}

TEST(LoadPhoto, MissingEmptyAndNonPhotoFilesGiveNullImages) {
    QTemporaryDir tmp;
    EXPECT_TRUE(loadPhoto(QString()).isNull());
    EXPECT_TRUE(loadPhoto(tmp.filePath("gone.jpg")).isNull());
    QFile text(tmp.filePath("notes.jpg"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a photo at all");
    text.close();
    EXPECT_TRUE(loadPhoto(text.fileName()).isNull());
}

TEST(LoadPhoto, FormatComesFromTheContentsNotTheName) {
    QTemporaryDir tmp;
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(qRgb(1, 2, 3));
    const QString path = tmp.filePath("really-a-png.jpg");
    ASSERT_TRUE(img.save(path, "PNG"));
    const QImage photo = loadPhoto(path);
    ASSERT_FALSE(photo.isNull());
    EXPECT_EQ(photo.pixel(5, 5), qRgb(1, 2, 3));
}

TEST(PhotoCacheTest, UnchangedFileIsDecodedOnceAndAChangedOneAgain) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("shot.png");
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(img.save(path));

    PhotoCache cache;
    const QImage first = cache.load(path);
    EXPECT_EQ(cache.load(path).cacheKey(), first.cacheKey()) << "no second decode";

    img.fill(qRgb(200, 20, 30));
    ASSERT_TRUE(img.save(path));
    touchLater(path, 5);
    const QImage second = cache.load(path);
    EXPECT_EQ(second.pixel(0, 0), qRgb(200, 20, 30));

    QFile::remove(path);
    EXPECT_TRUE(cache.load(path).isNull()) << "a deleted file is not served from memory";
}
