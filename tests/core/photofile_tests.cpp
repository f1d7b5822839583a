// Reading photo files: large photos, the format, and the decoded-photo cache.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "core/photofile.h"
#include "qt_printers.h"

TEST(LoadPhoto, HundredMegapixelsLoadAndTheFormatIsReadFromTheContents) {
    QTemporaryDir tmp;
    // 100.8 megapixels: decoded to 32-bit pixels that is 403 MB, beyond Qt's default limit.
    QImage big(12000, 8400, QImage::Format_RGB32);
    big.fill(qRgb(40, 180, 60));
    ASSERT_TRUE(big.save(tmp.filePath("medium-format.jpg"), "JPG", 50));
    big = QImage();
    EXPECT_EQ(loadPhoto(tmp.filePath("medium-format.jpg")).size(), QSize(12000, 8400));

    // The format comes from the contents, not the name.
    QImage png(30, 20, QImage::Format_RGB32);
    png.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(png.save(tmp.filePath("really-a-png.jpg"), "PNG"));
    EXPECT_EQ(loadPhoto(tmp.filePath("really-a-png.jpg")).pixel(5, 5), qRgb(1, 2, 3));
}

TEST(PhotoCache, DecodesAnUnchangedFileOnceAndEveryReplacementAgain) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("shot.bmp");
    // Rewritten with a new time; rewritten in place keeping its time (cp -p: same inode, new
    // status-change time); a new file keeping the time renamed over it (a new inode).
    enum How { NewTime, InPlace, Renamed };
    for (const How how : {NewTime, InPlace, Renamed}) {
        QImage img(30, 20, QImage::Format_RGB32);
        img.fill(qRgb(10, 20, 30));
        ASSERT_TRUE(img.save(path, "BMP"));
        const QDateTime kept = QFileInfo(path).lastModified();
        PhotoCache cache;
        const QImage first = cache.load(path);
        EXPECT_EQ(first.pixel(0, 0), qRgb(10, 20, 30));
        EXPECT_EQ(cache.load(path).cacheKey(), first.cacheKey()) << "no second decode";
        QThread::msleep(20);  // the status-change clock ticks in jiffies
        img.fill(qRgb(200, 20, 30));
        QFile f(how == Renamed ? tmp.filePath("next.bmp") : path);
        ASSERT_TRUE(img.save(f.fileName(), "BMP") && f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(how == NewTime ? kept.addSecs(5) : kept,
                                  QFileDevice::FileModificationTime));
        f.close();
        if (how == Renamed) {
            ASSERT_EQ(std::rename(QFile::encodeName(f.fileName()), QFile::encodeName(path)), 0);
        }
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(200, 20, 30)) << how;
        QFile::remove(path);
        EXPECT_TRUE(cache.load(path).isNull()) << "a deleted file is not served from memory";
    }
}
