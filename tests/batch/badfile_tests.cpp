// mattora-batch over bad files: each is named with its reason while the good photos of the
// same run are written, and a full disk stops the run. A portrait shot is read upright.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "batch_process.h"
#include "exif_jpeg.h"
#include "qt_printers.h"
#include "support/files.h"

namespace {

class BadFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString photo(const QString& name, QSize size = QSize(160, 120)) {
        QImage img(size, QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                img.setPixel(x, y, x < size.width() / 4 ? qRgb(30, 200, 60) : qRgb(x, y, 90));
        EXPECT_TRUE(img.save(path(name), nullptr, 95));
        return path(name);
    }
    QString file(const QString& name, const QByteArray& bytes) {
        return writeFile(path(name), bytes);
    }
    BatchResult run(const QStringList& args) {
        return runBatchTool(QStringList{"--background", photo("bg.png", QSize(200, 150))} + args,
                            path("home"));
    }
    static QStringList written(const QString& dir) {
        return QDir(dir).entryList({"*.png"}, QDir::Files, QDir::Name);
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(BadFiles, EachIsNamedWithItsReasonAndTheGoodOnesAreWritten) {
    const QByteArray jpeg = readFile(photo("source.jpg", QSize(400, 300))),
                     png = readFile(photo("source.png"));
    ASSERT_FALSE(jpeg.isEmpty() || png.isEmpty());
    const auto flipped = [&](qsizetype at) {
        return QByteArray(png).replace(at, 1, QByteArray(1, char(png[at] ^ 0x10)));
    };
    QByteArray bomb = jpeg.left(1262);  // its frame header says 30000 x 17000
    bomb.replace(bomb.indexOf("\xff\xc0") + 5, 4, QByteArray("\x42\x68\x75\x30", 4));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600), 0);
    QDir(m_dir.path()).mkdir("folder.jpg");
    QList<std::pair<QString, const char*>> cases = {
        {file("cut1.jpg", jpeg.left(1500)), "cannot be read: damaged: "},
        {file("cut2.jpg", jpeg.left(jpeg.size() * 2 / 3)), "damaged: Corrupt JPEG data"},
        {file("cut3.png", png.left(png.size() / 2)), "damaged"},
        {file("flip1.png", flipped(png.size() / 2)), "damaged"},
        {file("flip2.png", flipped(png.size() / 3)), "damaged"},
        {file("bomb.jpg", bomb), "too large: 30000 x 17000 pixels"},
        {path("pipe.jpg"), "not a regular file"},
        {path("folder.jpg"), "is a folder"},
        {path("gone.jpg"), "no such file"},
        {file("notes.jpg", "shopping list"), "not a photo in a format we read"},
    };
    if (::geteuid() != 0) {  // root reads it anyway
        cases.append({file("secret.jpg", jpeg), "permission denied"});
        QFile::setPermissions(path("secret.jpg"), QFileDevice::Permissions());
    }
    QStringList args{"--output-dir", path("out"), "--jobs", "2", photo("good1.png")};
    for (const auto& [file, reason] : cases)
        args << file;
    const BatchResult r = run(args << photo("good2.jpg"));
    SCOPED_TRACE(r.err.toStdString());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(written(path("out")), (QStringList{"good1.png", "good2.png"}));
    for (const auto& [file, reason] : cases)
        EXPECT_EQ(r.errLines().filter("mattora-batch: " + file + ": ").filter(reason).size(), 1)
            << reason;

    // Kept on request, with a warning naming it; a lower limit refuses a modest photo; a
    // portrait shot is keyed upright, by the colour of its upright corner.
    ASSERT_TRUE(writePortraitJpeg(path("portrait.jpg")));
    const BatchResult kept =
        runBatchTool({"--transparent", "--magic", "7", "--output-dir", path("kept"),
                      "--keep-damaged", "--max-megapixels", "1", path("cut2.jpg"),
                      photo("wide.png", QSize(1200, 900)), path("portrait.jpg")},
                     path("home"));
    SCOPED_TRACE(kept.err.toStdString());
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(written(path("kept")), (QStringList{"cut2.png", "portrait.png"}));
    EXPECT_EQ(kept.errLines().filter("cut2.jpg: damaged: ").filter("written as far as").size(), 1);
    EXPECT_EQ(kept.errLines().filter("wide.png: cannot be read: too large: 1200 x 900").size(), 1);
    const QImage upright(path("kept/portrait.png"));
    ASSERT_EQ(upright.size(), QSize(24, 48));
    EXPECT_EQ(qAlpha(upright.pixel(3, 3)), 0) << "green, the upright corner, is keyed";
    EXPECT_EQ(qAlpha(upright.pixel(20, 3)), 255) << "blue stays";
}

TEST_F(BadFiles, AFullDiskStopsTheRunAndCountsThePhotosNotBegun) {
    const QString out = path("small-disk");
    QDir().mkpath(out);
    if (::mount("tmpfs", QFile::encodeName(out).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (not root)";
    QStringList args{"--output-dir", out, "--jobs", "1", photo("small.png", QSize(40, 30))};
    for (int i = 0; i < 5; ++i)
        args << photo(QStringLiteral("big%1.png").arg(i), QSize(400, 300));
    const BatchResult r = run(args);
    const QStringList left = written(out);
    ::umount(QFile::encodeName(out).constData());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(left, QStringList{"small.png"}) << "nothing half-written";
    EXPECT_EQ(r.errLines().filter("big0.png: could not be written").size(), 1);
    EXPECT_EQ(r.errLines().last(),
              "mattora-batch: stopped, no space left in " + out + "; 4 of 6 photos not begun")
        << r.err.toStdString();
}
