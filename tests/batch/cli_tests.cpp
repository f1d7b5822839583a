// The batch tool as a command: usage errors, photos it cannot read or write, and its reports.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "batch_process.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/photos.h"

namespace {

class BatchCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        out = path("out");
        bg = path("bg.png");
        QImage img(240, 180, QImage::Format_RGB32);
        img.fill(qRgb(200, 180, 20));
        ASSERT_TRUE(img.save(bg));
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString photo(const QString& name, QSize size = QSize(160, 120)) {
        const QString file = path(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        EXPECT_TRUE(photos::studioShot(size.width(), size.height()).save(file, "PNG"));
        return file;
    }
    BatchResult run(const QStringList& args) { return runBatchTool(args, path("home")); }
    QStringList written() const { return QDir(out).entryList({"*.png"}, QDir::Files); }

    QString out, bg;
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(BatchCommand, UsageErrorsNameTheProblemShowTheUsageAndWriteNothing) {
    const QString fg = photo("a.png");
    const struct {
        QStringList args;
        const char* problem;
    } cases[] = {
        {{"--magic", "0"}, "--magic must be a whole number from 1 to 10"},
        {{"--fine", "101"}, "--fine must be a whole number from -100 to 100"},
        {{"--coarse", "-101"}, "--coarse must be a whole number from -100 to 100"},
        {{"--coarse", "101"}, "--coarse must be"},
        {{"--spill", "41"}, "--spill must be a whole number from 0 to 40"},
        {{"--fg-size", "4"}, "--fg-size must be a whole number from 5 to 200"},
        {{"--jobs", "0"}, "--jobs must be"},
        {{"--rotation", "45"}, "--rotation must be 0, 90, 180 or 270"},
        {{"--canvas", "square"}, "--canvas must be foreground or background"},
        {{"--bg-scale", "stretch"}, "--bg-scale must be fit or actual"},
        {{"--offset", "1,2,3"}, "--offset must be two whole numbers X,Y"},
        {{"--bogus"}, "Unknown option 'bogus'"},
        {{"--magic"}, "Missing value after '--magic'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const BatchResult r =
            run(QStringList{"--output-dir", out, "--background", bg, fg} + c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.startsWith("mattora-batch: ")) << r.err.toStdString();
        EXPECT_TRUE(r.errLines().value(0).contains(c.problem)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Usage:"));
        EXPECT_FALSE(QFileInfo::exists(out)) << "nothing is written on a usage error";
        EXPECT_FALSE(QFileInfo::exists(path("home"))) << "not even the default output folder";
    }
    EXPECT_TRUE(run({fg}).errLines().value(0).contains("no background photo"));
    EXPECT_TRUE(run({"--background", bg}).errLines().value(0).contains("no foreground photo"));
}

TEST_F(BatchCommand, ValuesAtTheEndsOfTheirRangesAreAcceptedAndTheDefaultFolderIsTheWindows) {
    BatchResult r = run({"--magic",      "1",      "--fine",      "-100", "--coarse",     "100",
                         "--spill",      "40",     "--fg-size",   "200",  "--quality",    "0",
                         "--offset",     "-20,15", "--rotation",  "270",  "--background", bg,
                         "--output-dir", out,      photo("a.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(written(), QStringList{"a.png"});
    r = run({"--magic", "9", "--fine", "100", "--coarse", "-100", "--fg-size", "5", "--transparent",
             photo("b.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("home/Documents/Verdalux/b.png")));
}

TEST_F(BatchCommand, PhotosThatCannotBeReadOrWrittenAreReportedAndTheOthersDone) {
    writeFile(path("broken.jpg"), "\xff\xd8\xff\xe0 not really a JPEG");
    const QString first = photo("a/shot.png"), second = photo("b/shot.jpg", QSize(90, 60));
    const QString inside = photo("out/studio.png");  // its result would replace it
    BatchResult r =
        run({"--background", bg, "--output-dir", out, "--jobs", "2", path("missing.jpg"),
             photo("good.png"), path("broken.jpg"), first, second, inside});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(written(), (QStringList{"good.png", "shot.png", "studio.png"}));
    EXPECT_EQ(QImage(out + "/shot.png").size(), QSize(160, 120)) << "the first photo's result";
    EXPECT_EQ(QImage(inside), photos::studioShot(160, 120).convertToFormat(QImage::Format_RGB32));
    const QStringList e = r.errLines();
    EXPECT_EQ(e.filter(path("missing.jpg") + ": cannot be read").size(), 1) << r.err.toStdString();
    EXPECT_EQ(e.filter(path("broken.jpg") + ": cannot be read").size(), 1);
    EXPECT_EQ(e.filter(second + ": not written").filter(first).size(), 1);
    EXPECT_EQ(e.filter(inside + ": not written").size(), 1);
    // One line a photo, "[done/total]", as it ends; then the summary.
    EXPECT_EQ(e.filter(QRegularExpression("^\\[[1-6]/6\\] ")).size(), 6) << r.err.toStdString();
    EXPECT_EQ(e.filter("] " + path("good.png") + " -> " + out + "/good.png").size(), 1);
    EXPECT_TRUE(e.last().startsWith("2 written, 4 failed, ") && e.last().endsWith(" seconds"))
        << e.last().toStdString();

    r = run({"--background", path("nowhere.jpg"), "--output-dir", path("out2"), photo("c.png"),
             photo("d.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines().filter(path("nowhere.jpg") + ": cannot be read").size(), 1);
    EXPECT_TRUE(r.errLines().last().startsWith("0 written, 2 failed, "));
    EXPECT_TRUE(QDir(path("out2")).entryList(QDir::Files).isEmpty());

    r = run({"--transparent", "--output-dir", bg + "/out", photo("e.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines().filter("cannot be created").size(), 1) << r.err.toStdString();
}
