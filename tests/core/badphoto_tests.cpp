// The decoded-photo cache notices a replaced file. Bad files, end to end, are in the batch
// tool's tests.
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
    const struct {
        const char* how;
        bool inPlace;  // cp -p: same inode, new status-change time; else a new inode
    } cases[] = {{"rewritten in place", true}, {"renamed over", false}};
    for (const auto& c : cases) {
        QImage img(30, 20, QImage::Format_RGB32);
        img.fill(qRgb(10, 20, 30));
        ASSERT_TRUE(img.save(path, "BMP"));
        const QDateTime kept = QFileInfo(path).lastModified();
        PhotoCache cache;
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(10, 20, 30));
        QThread::msleep(20);  // the status-change clock ticks in jiffies
        img.fill(qRgb(200, 20, 30));
        const QString target = c.inPlace ? path : tmp.filePath("next.bmp");
        ASSERT_TRUE(img.save(target, "BMP"));
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(kept, QFileDevice::FileModificationTime));
        f.close();
        if (!c.inPlace) {
            ASSERT_EQ(std::rename(QFile::encodeName(target), QFile::encodeName(path)), 0);
        }
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(200, 20, 30)) << c.how;
    }
}
