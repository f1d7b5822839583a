// Photos that cannot be used as they are: each gives its reason, nothing blocks, and the cache
// notices a replaced file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "core/photofile.h"
#include "qt_printers.h"

namespace {

using Problem = PhotoLoad::Problem;

QByteArray encoded(const char* format, QSize size = QSize(96, 64)) {
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(x * 5 % 256, y * 3 % 256, 60));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.save(&buffer, format));
    return buffer.data();
}

QByteArray flipped(QByteArray data, qsizetype at) {
    data[at] = char(data[at] ^ 0x10);
    return data;
}

// A JPEG whose frame header claims 30000 x 17000 pixels.
QByteArray forgedJpeg() {
    QByteArray data = encoded("JPG");
    const qsizetype sof = data.indexOf("\xff\xc0");
    const char dims[] = {char(17000 >> 8), char(17000 & 255), char(30000 >> 8), char(30000 & 255)};
    data.replace(sof + 5, 4, QByteArray(dims, 4));
    return data.left(1262);
}

}  // namespace

TEST(BadPhoto, EachGivesItsReasonWithoutBlocking) {
    QTemporaryDir tmp;
    const QByteArray jpeg = encoded("JPG", QSize(320, 240));
    const QByteArray png = encoded("PNG");
    const struct {
        const char* name;
        QByteArray bytes;  // empty: made below
        Problem problem;
        const char* words;
    } cases[] = {
        {"cut-early.jpg", jpeg.left(jpeg.size() / 3), Problem::Damaged, "damaged: "},
        {"cut-late.jpg", jpeg.left(jpeg.size() * 9 / 10), Problem::Damaged, "premature end"},
        {"cut.png", png.left(png.size() / 2), Problem::Damaged, "damaged"},
        {"flip-a.png", flipped(png, png.size() / 2), Problem::Damaged, "damaged"},
        {"flip-b.png", flipped(png, png.size() - 20), Problem::Damaged, "damaged"},
        {"bomb.jpg", forgedJpeg(), Problem::TooLarge, "30000 x 17000 pixels"},
        {"notes.jpg", "not a photo", Problem::NotAPhoto, "not a photo in a format we read"},
        {"gone.jpg", {}, Problem::Missing, "no such file"},
        {"pipe.jpg", {}, Problem::NotRegular, "not a regular file"},
        {"folder.jpg", {}, Problem::IsFolder, "is a folder"},
        {"secret.jpg", jpeg, Problem::PermissionDenied, "permission denied"},
        {"bad\xef\xbf\xbdname.jpg", {}, Problem::BadName, "not valid UTF-8"},
    };
    ASSERT_EQ(::mkfifo(QFile::encodeName(tmp.filePath("pipe.jpg")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(tmp.path()).mkdir("folder.jpg"));
    for (const auto& c : cases) {
        const QString path = tmp.filePath(QString::fromUtf8(c.name));
        if (!c.bytes.isEmpty()) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.bytes);
        }
        if (c.problem == Problem::PermissionDenied) {
            if (::geteuid() == 0)
                continue;  // root reads it anyway
            QFile::setPermissions(path, QFileDevice::Permissions());
        }
        const PhotoLoad load = readPhoto(path);
        EXPECT_EQ(int(load.problem), int(c.problem)) << c.name;
        EXPECT_TRUE(problemText(load).contains(QLatin1String(c.words)))
            << c.name << ": " << problemText(load).toStdString();
    }
    PhotoLoad cut = readPhoto(tmp.filePath("cut-late.jpg"));
    EXPECT_EQ(cut.image.size(), QSize(320, 240)) << "a damaged photo shows what decodes";
}

TEST(BadPhoto, ThePixelLimitComesFromTheHeaderAndMemoryReadsAlike) {
    QByteArray png = encoded("PNG", QSize(400, 300));
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    const PhotoLoad load = readPhoto(&buffer, 100'000);
    EXPECT_EQ(int(load.problem), int(Problem::TooLarge));
    EXPECT_TRUE(load.image.isNull());
    EXPECT_EQ(problemText(load),
              "too large: 400 x 300 pixels, more than the limit of 0.1 megapixels");
    buffer.seek(0);
    EXPECT_EQ(readPhoto(&buffer).image.size(), QSize(400, 300));
}

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
        QThread::msleep(20);          // the status-change clock ticks in jiffies
        img.fill(qRgb(200, 20, 30));
        const QString target = c.inPlace ? path : tmp.filePath("next.bmp");
        ASSERT_TRUE(img.save(target, "BMP"));
        ASSERT_EQ(QFileInfo(target).size(), QFileInfo(path).size());
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(kept, QFileDevice::FileModificationTime));
        f.close();
        if (!c.inPlace) {
            ASSERT_EQ(::rename(QFile::encodeName(target), QFile::encodeName(path)), 0);
        }
        EXPECT_EQ(cache.load(path).pixel(0, 0), qRgb(200, 20, 30)) << c.how;
    }
}
