// The decoded-photo cache notices a replaced file; bad files end to end are the batch tool's.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "core/photofile.h"
#include "qt_printers.h"

TEST(BadPhoto, TheCacheReadsASameSizeReplacementThatKeptItsTime) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("shot.bmp");
    // In place (cp -p): same inode, new status-change time. Otherwise a new inode renamed over.
    for (const bool inPlace : {true, false}) {
        QImage img(30, 20, QImage::Format_RGB32);
        img.fill(qRgb(10, 20, 30));
        ASSERT_TRUE(img.save(path, "BMP"));
        const QDateTime kept = QFileInfo(path).lastModified();
        PhotoCache cache;
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(10, 20, 30));
        QThread::msleep(20);  // the status-change clock ticks in jiffies
        img.fill(qRgb(200, 20, 30));
        QFile f(inPlace ? path : tmp.filePath("next.bmp"));
        ASSERT_TRUE(img.save(f.fileName(), "BMP") && f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(kept, QFileDevice::FileModificationTime));
        f.close();
        if (!inPlace) {
            ASSERT_EQ(std::rename(QFile::encodeName(f.fileName()), QFile::encodeName(path)), 0);
        }
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(200, 20, 30)) << "in place: " << inPlace;
    }
}
