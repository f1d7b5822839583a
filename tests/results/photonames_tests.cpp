// Photo names and result names: which files are photos, which name a result takes, and what a
// result records of the photo it was made from.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "qt_printers.h"
#include "results/photonames.h"
#include "support/files.h"

namespace {

TEST(PhotoNames, PhotosAreKnownByTheirLastSuffixInAnyCaseAndResultsByTheWholeNameBeforeIt) {
    const struct {
        const char* file;
        bool photo;
        const char* result;
    } cases[] = {
        {"/shoot/IMG_0001.JPG", true, "IMG_0001.png"},
        {"/shoot/IMG_0001.JPEG", true, "IMG_0001.png"},
        {"/shoot/gala.2026.12.05.001.jpg", true, "gala.2026.12.05.001.png"},
        {"/shoot/shot.v2.final.jpg", true, "shot.v2.final.png"},
        {"/my photos/studio day 1.tif", true, "studio day 1.png"},
        {"x.Tiff", true, "x.png"},
        {"y.XPM", true, "y.png"},
        {"b.bmp", true, "b.png"},
        {"p.png", true, "p.png"},
        {"z.jpe", false, "z.png"},
        {"w.jpg.part", false, "w.jpg.png"},
        {"notes.txt", false, "notes.png"},
        {"jpg", false, "jpg.png"},
        {".hidden.jpg", false, ".hidden.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString name = QFileInfo(c.file).fileName();
        EXPECT_EQ(results::isPhotoName(name), c.photo);
        EXPECT_EQ(QDir::match(results::photoNamePatterns(), name) && !name.startsWith('.'),
                  c.photo);
        EXPECT_EQ(results::resultName(c.file), c.result);
    }
    EXPECT_EQ(results::numberedResultName("/a/gala.001.jpg", 2), "gala.001-2.png");
    EXPECT_EQ(results::numberedResultName("/a/gala.001.jpg", 1), "gala.001.png");
    EXPECT_EQ(results::readableFormats(), "JPEG, TIFF, BMP, PNG, XPM");
    EXPECT_EQ(results::photoFileFilter("Images"),
              "Images (*.jpeg *.jpg *.tiff *.tif *.bmp *.png *.xpm)");
}

class ResultSlots : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // A result of `source` at `name` in the output folder, its texts as Qt's writer puts them.
    QString result(const QString& name, const QString& source, const QString& version = "1:2:3") {
        QImage img(4, 4, QImage::Format_ARGB32);
        img.fill(0);
        img.setText(results::kSourceKey, source);
        img.setText(results::kVersionKey, version);
        QDir().mkpath(path("out"));
        EXPECT_TRUE(img.save(path("out/" + name)));
        return path("out/" + name);
    }
    QTemporaryDir m_dir;
};

TEST_F(ResultSlots, AResultReplacesOnlyItsOwnPhotosEarlierResult) {
    const QString a = writeFile(path("card1/IMG_0021.JPG"), "a"),
                  b = writeFile(path("card2/IMG_0021.JPG"), "b"),
                  c = writeFile(path("card3/IMG_0021.JPG"), "c");
    const QString longName =
        path(QString(120, 'l') + "/" + QString(120, 'm') + "/\u00e9t\u00e9/shot.jpg");
    writeFile(longName, "l");
    result("IMG_0021.png", a);
    result("IMG_0021-2.png", b);
    result("shot.png", longName);
    writeFile(path("out/plain.png"), "not a result");
    writeFile(path("out/fake.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\xff\xff", 12));
    writeFile(path("out/nokey.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\4tEXt\0abc....", 20));
    ASSERT_EQ(::symlink(QFile::encodeName(path("out/IMG_0021.png")).constData(),
                        QFile::encodeName(path("out/link.png")).constData()),
              0);
    const QString plain = writeFile(path("in/plain.jpg"), "p"),
                  fake = writeFile(path("in/fake.jpg"), "f"),
                  nokey = writeFile(path("in/nokey.jpg"), "n"),
                  link = writeFile(path("in/link.jpg"), "k"),
                  fresh = writeFile(path("in/fresh.jpg"), "f"), bg = path("out/fresh.png");
    const auto claimed = [&](const QString& p) {
        return QFileInfo(p).fileName() == "fresh.png" ? bg : QString();
    };
    const struct {
        QString photo;
        const char* slot;
        results::ResultSlot::First why;
        QString takenBy;
    } cases[] = {
        {a, "IMG_0021.png", results::ResultSlot::First::Free, {}},
        {b, "IMG_0021-2.png", results::ResultSlot::First::OtherResult, a},
        {c, "IMG_0021-3.png", results::ResultSlot::First::OtherResult, a},
        {longName, "shot.png", results::ResultSlot::First::Free, {}},
        {plain, "plain-2.png", results::ResultSlot::First::NotAResult, {}},
        {fake, "fake-2.png", results::ResultSlot::First::NotAResult, {}},
        {nokey, "nokey-2.png", results::ResultSlot::First::NotAResult, {}},
        {link, "link-2.png", results::ResultSlot::First::NotAResult, {}},
        {fresh, "fresh-2.png", results::ResultSlot::First::InUse, bg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        const results::ResultSlot slot = results::resultSlot(path("out"), c.photo, claimed);
        EXPECT_EQ(slot.path, path(QStringLiteral("out/") + c.slot));
        EXPECT_EQ(slot.first, path("out/") + results::resultName(c.photo));
        EXPECT_EQ(int(slot.why), int(c.why));
        EXPECT_EQ(slot.takenBy, c.takenBy);
        EXPECT_EQ(results::slotNote(slot).isEmpty(), c.why == results::ResultSlot::First::Free);
    }
    // The photo itself in the output folder is never its own result's place.
    const QString itself = writeFile(path("out/studio.png"), "s");
    const results::ResultSlot slot = results::resultSlot(path("out"), itself);
    EXPECT_EQ(slot.path, path("out/studio-2.png"));
    EXPECT_EQ(results::slotNote(slot),
              "studio.png is a photo in use (" + itself + "); written as studio-2.png");
    EXPECT_EQ(results::resultOrigin(path("out/IMG_0021-2.png")).source, b);
    EXPECT_EQ(results::resultOrigin(path("out/IMG_0021-2.png")).version, "1:2:3");
    EXPECT_TRUE(results::resultOrigin(path("out/link.png")).exists);
    EXPECT_TRUE(results::resultOrigin(path("out/link.png")).source.isEmpty())
        << "links are not read";
    EXPECT_FALSE(results::resultOrigin(path("out/none.png")).exists);
}

TEST(PhotoVersions, AVersionChangesWithTheFileAndItsBytesTellATimeChangeFromNewContents) {
    QTemporaryDir dir;
    const QString photo = writeFile(dir.filePath("p.jpg"), "first");
    const QString v1 = results::photoVersion(photo), d1 = results::photoDigest(photo);
    EXPECT_EQ(v1.split(':').size(), 5);
    QFile f(photo);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
    f.close();
    const QString v2 = results::photoVersion(photo);
    EXPECT_NE(v2, v1);
    EXPECT_TRUE(results::sameFileAndSize(v1, v2));
    EXPECT_EQ(results::photoDigest(photo), d1);
    writeFile(photo, "other");  // same size, new bytes
    EXPECT_TRUE(results::sameFileAndSize(v1, results::photoVersion(photo)));
    EXPECT_NE(results::photoDigest(photo), d1);
    writeFile(photo, "longer bytes");
    EXPECT_FALSE(results::sameFileAndSize(v1, results::photoVersion(photo)));
    EXPECT_TRUE(results::photoVersion(dir.filePath("gone.jpg")).isEmpty());
    EXPECT_TRUE(results::photoDigest(dir.filePath("gone.jpg")).isEmpty());
    EXPECT_FALSE(results::sameFileAndSize("a:b:c", "a:b:c"));
}

}  // namespace
