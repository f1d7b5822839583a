// Reading photo files: large photos, the format, the decoder's cost read from the header,
// metadata bombs, and the decoded-photo cache.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <thread>
#include <vector>

#include "photo/photofile.h"
#include "photo/photoscan.h"
#include "qt_printers.h"
#include "support/hostile.h"
#include "support/photos.h"

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

namespace {

QStringList g_seen;
QMutex g_seenLock;
QtMessageHandler g_before = nullptr;
// A handler a program installs after the damage detector, passing messages on as it should.
// Qt calls it on every decoding thread at once, so its own list is guarded.
void laterHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    {
        QMutexLocker locked(&g_seenLock);
        g_seen << text;
    }
    g_before(type, context, text);
}

}  // namespace

TEST(DamageDetector, AHandlerInstalledAfterItPassesOnAndDamageIsStillFoundOnEveryThread) {
    QImage shot(320, 240, QImage::Format_RGB32);
    shot.fill(qRgb(30, 200, 60));
    QByteArray jpeg;
    QBuffer out(&jpeg);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && shot.save(&out, "JPG", 90));
    const QByteArray cut = jpeg.left(jpeg.size() * 2 / 3);
    g_before = qInstallMessageHandler(laterHandler);
    g_seen.clear();
    qWarning("a message of the program's own");
    QList<PhotoLoad> loads;
    QMutex lock;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            QByteArray bytes = cut;
            QBuffer in(&bytes);
            in.open(QIODevice::ReadOnly);
            const PhotoLoad load = readPhoto(&in);
            QMutexLocker locked(&lock);
            loads << load;
        });
    for (std::thread& t : threads)
        t.join();
    qInstallMessageHandler(g_before);
    EXPECT_EQ(g_seen.filter("a message of the program's own").size(), 1);
    ASSERT_EQ(loads.size(), 4);
    for (const PhotoLoad& load : loads) {
        EXPECT_EQ(load.problem, PhotoLoad::Problem::Damaged);
        EXPECT_TRUE(load.detail.contains("Corrupt JPEG data") || load.detail.contains("Premature"))
            << load.detail.toStdString();
    }
}

TEST(ScanPhoto, APageDirectoryCountingPastTheFileIsDamagedAtOnce) {
    // A BigTIFF of 56 bytes whose first page claims 0x74330ad80000000d entries: the count times
    // an entry's 20 bytes wraps round, and the scan must not walk them (found by fuzzing).
    const QByteArray big = QByteArray::fromHex(
        "49492b002f2a00002a00000000000000000000000000000000000000000000000000000000000000"
        "d82a200d000000d80a33746100000000");
    // The same in a classic TIFF: 65535 entries of 12 bytes in a file of 16.
    const QByteArray classic = QByteArray::fromHex("49492a0008000000ffff000000000000");
    for (const QByteArray& file : {big, classic}) {
        QByteArray bytes = file;
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        const PhotoScan scan = scanPhoto(&buffer);
        EXPECT_EQ(scan.verdict, PhotoScan::Verdict::Damaged);
        EXPECT_TRUE(scan.detail.contains("directory")) << scan.detail.toStdString();
    }
}

TEST(ScanPhoto, EachFormatsDecoderCostIsReadFromTheHeaderAndMetadataBombsAreLeftOut) {
    const auto image = [](QImage::Format format) {
        QImage img(512, 384, QImage::Format_ARGB32);  // a strip of a TIFF is a small share
        img.fill(qRgba(20, 200, 40, 200));
        return img.convertToFormat(format);
    };
    // What a reader holds a pixel at its peak: the image it gives, and for a progressive JPEG
    // the coefficients of its 4:2:0 components (1.5 a pixel, 2 bytes each).
    const struct {
        const char* what;
        QByteArray file;
        double bytes;
    } cases[] = {
        {"8-bit PNG", photos::encoded(image(QImage::Format_ARGB32), "PNG"), 4},
        {"16-bit PNG", photos::encoded(image(QImage::Format_RGBA64), "PNG"), 8},
        {"grey PNG", photos::encoded(image(QImage::Format_Grayscale8), "PNG"), 1},
        {"grey TIFF", photos::encoded(image(QImage::Format_Grayscale8), "TIFF"), 1},
        {"16-bit grey TIFF", photos::encoded(image(QImage::Format_Grayscale16), "TIFF"), 2},
        {"8-bit TIFF", photos::encoded(image(QImage::Format_ARGB32), "TIFF"), 4},
        {"16-bit TIFF", photos::encoded(image(QImage::Format_RGBA64), "TIFF"), 8},
        {"float TIFF", photos::encoded(image(QImage::Format_RGBA32FPx4), "TIFF"), 16},
        {"half-float TIFF", photos::encoded(image(QImage::Format_RGBA16FPx4), "TIFF"), 8},
        {"JPEG", photos::encoded(image(QImage::Format_RGB32), "JPG"), 4},
        {"grey JPEG", photos::encoded(image(QImage::Format_Grayscale8), "JPG"), 1},
        {"progressive JPEG", hostile::progressiveJpeg(), 7},
    };
    for (const auto& c : cases) {
        QByteArray bytes = c.file;
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        const PhotoLoad load = readPhoto(&buffer);
        EXPECT_TRUE(load.ok()) << c.what;
        EXPECT_NEAR(load.decodeBytesPerPixel, c.bytes, 0.1) << c.what;
    }

    // Text inflating to 40 x 2 MB: the decoder sees the first megabyte of it at most.
    for (const char* type : {"zTXt", "iTXt"}) {
        QByteArray bomb = hostile::textBomb(type, 40, 2 << 20);
        QBuffer buffer(&bomb);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        const PhotoLoad load = readPhoto(&buffer);
        EXPECT_TRUE(load.ok()) << type;
        EXPECT_EQ(load.image.size(), QSize(8, 8));
        qsizetype text = 0;
        for (const QString& key : load.image.textKeys())
            text += load.image.text(key).size();
        EXPECT_LT(text, kMetadataBudget) << type;
    }
}
