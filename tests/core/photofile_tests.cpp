// Reading photo files: large photos, broken files, and the decoded-photo cache.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include "core/photofile.h"
#include "qt_printers.h"
#include "support/files.h"

TEST(LoadPhoto, HundredMegapixelsLoadAndBrokenFilesGiveNullImages) {
    QTemporaryDir tmp;
    // 100.8 megapixels: decoded to 32-bit pixels that is 403 MB, beyond Qt's default limit.
    QImage big(12000, 8400, QImage::Format_RGB32);
    big.fill(qRgb(40, 180, 60));
    ASSERT_TRUE(big.save(tmp.filePath("medium-format.jpg"), "JPG", 50));
    big = QImage();
    EXPECT_EQ(loadPhoto(tmp.filePath("medium-format.jpg")).size(), QSize(12000, 8400));

    writeFile(tmp.filePath("notes.jpg"), "not a photo at all");
    for (const QString& path : {QString(), tmp.filePath("gone.jpg"), tmp.filePath("notes.jpg")})
        EXPECT_TRUE(loadPhoto(path).isNull()) << path.toStdString();

    // The format comes from the contents, not the name.
    QImage png(30, 20, QImage::Format_RGB32);
    png.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(png.save(tmp.filePath("really-a-png.jpg"), "PNG"));
    EXPECT_EQ(loadPhoto(tmp.filePath("really-a-png.jpg")).pixel(5, 5), qRgb(1, 2, 3));
}

TEST(PhotoCache, UnchangedFileIsDecodedOnceAndAChangedOneAgain) {
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
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(200, 20, 30));
    QFile::remove(path);
    EXPECT_TRUE(cache.load(path).isNull()) << "a deleted file is not served from memory";
}
