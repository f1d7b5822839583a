// An event's shoot: every guest over each background, settings read from a file, and the keyers'
// contact sheet.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "batch/contactsheet.h"
#include "batch_process.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/photos.h"

namespace {

QImage argb(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

class EventRun : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    BatchResult run(const QStringList& args) { return runBatchTool(args, path("home")); }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(EventRun, EachGuestOverEachBackgroundIsNamedForBothAndIsItsOneBackgroundRun) {
    const QStringList guests = {photos::saved(path("in/guest.1.jpg"), {160, 120}),
                                photos::saved(path("in/bride.png"), {120, 160})};
    const QStringList backgrounds = {photos::saved(path("bg/beach.jpg"), {240, 180}),
                                     photos::saved(path("bg/sky.png"), {100, 200}),
                                     photos::saved(path("bg/hall.jpg"), {300, 200})};
    const QStringList look = {"--bg-scale", "fill", "--offset", "12,-7", "--magic", "10"};
    QStringList args = look + QStringList{"--output-dir", path("out")};
    for (const QString& bg : backgrounds)
        args << "--background" << bg;
    const BatchResult r = run(args + guests);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("[6/6]")) << "progress counts results";
    EXPECT_TRUE(r.err.contains("6 written, 0 failed"));
    const struct {
        int guest, background;
        const char* name;
    } results[] = {{0, 0, "guest.1-beach.png"}, {0, 1, "guest.1-sky.png"},
                   {0, 2, "guest.1-hall.png"},  {1, 0, "bride-beach.png"},
                   {1, 1, "bride-sky.png"},     {1, 2, "bride-hall.png"}};
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), 6);
    for (const auto& c : results) {
        SCOPED_TRACE(c.name);
        const QString one = path(QStringLiteral("one/%1").arg(c.background));
        const BatchResult single =
            run(look + QStringList{"--output-dir", one, "--background", backgrounds[c.background],
                                   guests[c.guest]});
        ASSERT_EQ(single.status, 0) << single.err.toStdString();
        const QImage want =
            argb(one + "/" + QFileInfo(guests[c.guest]).completeBaseName() + ".png");
        ASSERT_FALSE(want.isNull());
        EXPECT_EQ(argb(path("out/") + c.name), want);
    }
    // A run again replaces its own six results; it numbers none.
    ASSERT_EQ(run(args + guests).status, 0);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), 6);
}

TEST_F(EventRun, ASettingsFileGivesTheOptionsResultAndTheCommandLineWins) {
    const QString guest = photos::saved(path("guest.jpg"), {200, 150});
    const QString beach = photos::saved(path("beach.jpg"), {240, 180});
    const QString hall = photos::saved(path("hall.png"), {150, 150});
    const QString file =
        writeFile(path("event.ini"), ("magic=3\nfine=20\nbg-scale=fill\noffset=40,-10\n"
                                      "correct-spill=true\nblue=false\nbackground=" +
                                      beach + "\n")
                                         .toUtf8());
    const struct {
        const char* name;
        QStringList given, same;
    } cases[] = {
        {"file alone",
         {},
         {"--magic", "3", "--fine", "20", "--bg-scale", "fill", "--offset", "40,-10",
          "--correct-spill", "--background", beach}},
        {"an option wins",
         {"--magic", "7", "--background", hall},
         {"--magic", "7", "--fine", "20", "--bg-scale", "fill", "--offset", "40,-10",
          "--correct-spill", "--background", hall}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString a = path(QStringLiteral("a/%1").arg(c.name)),
                      b = path(QStringLiteral("b/%1").arg(c.name));
        const BatchResult viaFile =
            run(QStringList{"--settings", file, "--output-dir", a} + c.given << guest);
        const BatchResult viaOptions = run(c.same + QStringList{"--output-dir", b, guest});
        ASSERT_EQ(viaFile.status, 0) << viaFile.err.toStdString();
        ASSERT_EQ(viaOptions.status, 0) << viaOptions.err.toStdString();
        EXPECT_EQ(argb(a + "/guest.png"), argb(b + "/guest.png"));
    }
    writeFile(path("bad.ini"), "magic=3\nmagik=4\n");
    const BatchResult bad = run({"--settings", path("bad.ini"), "--output-dir", path("c"), guest});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.contains(path("bad.ini") + ": \"magik\" is not an option"))
        << bad.err.toStdString();
}

TEST_F(EventRun, TheContactSheetHoldsTheTenKeyersInLabelledCells) {
    const QString guest = photos::saved(path("guest.jpg"), {240, 160});
    const QString bg = photos::saved(path("bg.png"), {240, 160}, 0xff4060a0);
    const BatchResult r =
        run({"--contact-sheet", "--background", bg, "--output-dir", path("sheet"), guest});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage sheet = argb(path("sheet/guest-keyers.png"));
    ASSERT_EQ(sheet.size(), batch::sheetSize({240, 160}));
    QList<QImage> labels;
    for (int magic = 1; magic <= 10; ++magic) {
        SCOPED_TRACE(magic);
        const QString one = path(QStringLiteral("one/%1").arg(magic));
        ASSERT_EQ(
            run({"--magic", QString::number(magic), "--background", bg, "--output-dir", one, guest})
                .status,
            0);
        const QRect at = batch::sheetPicture(magic, {240, 160});
        // Scaled as the composite is, premultiplied.
        const QImage want = argb(one + "/guest.png")
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                .scaled(at.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(sheet.copy(at), want);
        const QImage label = sheet.copy(batch::sheetLabel(magic, {240, 160}));
        EXPECT_NE(label, QImage(label.size(), label.format())) << "a label is written";
        EXPECT_FALSE(labels.contains(label)) << "each label its own";
        labels << label;
    }
}
