// The batch tool as a command: usage errors, unreadable photos, clashing names, folders it
// cannot write, and what it reports.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "batch/progress.h"
#include "batch_process.h"
#include "qt_printers.h"

namespace {

class BatchCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        out = path("out");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A green studio shot with a grey subject in the middle.
    QString photo(const QString& name, QSize size = QSize(160, 120)) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(qRgb(30, 200, 60));
        for (int y = size.height() / 4; y < size.height() * 3 / 4; ++y)
            for (int x = size.width() / 4; x < size.width() * 3 / 4; ++x)
                img.setPixel(x, y, qRgb(120, 110, 100));
        const QString file = path(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        EXPECT_TRUE(img.save(file, "PNG"));
        return file;
    }
    QString background() {
        if (!QFileInfo::exists(path("bg.png"))) {
            QImage img(240, 180, QImage::Format_RGB32);
            img.fill(qRgb(200, 180, 20));
            EXPECT_TRUE(img.save(path("bg.png")));
        }
        return path("bg.png");
    }
    BatchResult run(const QStringList& args) { return runBatchTool(args, path("home")); }
    QStringList written() const { return QDir(out).entryList({"*.png"}, QDir::Files); }

    QString out;
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(BatchCommand, UsageErrorsNameTheProblemShowTheUsageAndWriteNothing) {
    const QString fg = photo("a.png");
    const QString bg = background();
    const QStringList common{"--output-dir", out};
    const struct {
        QStringList args;
        const char* problem;
    } cases[] = {
        {{"--magic", "0", "--background", bg, fg}, "--magic must be a whole number from 1 to 10"},
        {{"--magic", "x", "--background", bg, fg}, "--magic must be a whole number"},
        {{"--fine", "101", "--background", bg, fg},
         "--fine must be a whole number from -100 to 100"},
        {{"--coarse", "-101", "--background", bg, fg}, "--coarse must be"},
        {{"--spill", "41", "--background", bg, fg}, "--spill must be a whole number from 0 to 40"},
        {{"--fg-size", "4", "--background", bg, fg},
         "--fg-size must be a whole number from 5 to 200"},
        {{"--quality", "101", "--background", bg, fg}, "--quality must be"},
        {{"--jobs", "0", "--background", bg, fg}, "--jobs must be"},
        {{"--rotation", "45", "--background", bg, fg}, "--rotation must be 0, 90, 180 or 270"},
        {{"--canvas", "square", "--background", bg, fg},
         "--canvas must be foreground or background"},
        {{"--align", "middle", "--background", bg, fg}, "--align must be center or top-left"},
        {{"--bg-scale", "stretch", "--background", bg, fg}, "--bg-scale must be fit or actual"},
        {{"--offset", "12", "--background", bg, fg}, "--offset must be two whole numbers X,Y"},
        {{"--bogus", "--background", bg, fg}, "Unknown option 'bogus'"},
        {{"--background", bg, fg, "--magic"}, "Missing value after '--magic'"},
        {{fg}, "no background photo"},
        {{"--background", bg}, "no foreground photo"},
    };
    for (const auto& c : cases) {
        const BatchResult r = run(common + c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(r.status, 2);
        ASSERT_FALSE(r.errLines().isEmpty());
        EXPECT_TRUE(r.errLines().first().startsWith("mattora-batch: ")) << r.err.toStdString();
        EXPECT_TRUE(r.errLines().first().contains(c.problem)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Usage:"));
        EXPECT_FALSE(QFileInfo::exists(out)) << "nothing is written on a usage error";
        EXPECT_FALSE(QFileInfo::exists(path("home"))) << "not even the default output folder";
    }
}

TEST_F(BatchCommand, ValuesAtTheEndsOfTheirRangesAreAccepted) {
    const BatchResult r =
        run({"--magic",      "1",      "--fine",      "-100", "--coarse",     "100",
             "--spill",      "40",     "--fg-size",   "200",  "--quality",    "0",
             "--offset",     "-20,15", "--rotation",  "270",  "--background", background(),
             "--output-dir", out,      photo("a.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(written(), QStringList{"a.png"});
}

TEST_F(BatchCommand, WithoutAnOutputFolderItWritesWhereTheWindowSaves) {
    const BatchResult r = run({"--transparent", photo("a.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("home/Documents/Verdalux/a.png")));
}

TEST_F(BatchCommand, UnreadablePhotosAreReportedAndTheOthersStillDone) {
    QFile broken(path("broken.jpg"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\xff\xd8\xff\xe0 not really a JPEG");
    broken.close();
    const BatchResult r = run({"--background", background(), "--output-dir", out, "--jobs", "2",
                               path("missing.jpg"), photo("good.png"), path("broken.jpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(written(), QStringList{"good.png"});
    const QStringList problems = r.errLines().filter("cannot be read");
    ASSERT_EQ(problems.size(), 2) << r.err.toStdString();
    EXPECT_EQ(problems.filter(path("missing.jpg")).size(), 1);
    EXPECT_EQ(problems.filter(path("broken.jpg")).size(), 1);
    EXPECT_TRUE(r.errLines().last().startsWith("1 written, 2 failed, ")) << r.err.toStdString();
}

TEST_F(BatchCommand, AnUnreadableBackgroundIsReportedOnceAndNothingIsWritten) {
    const BatchResult r = run({"--background", path("nowhere.jpg"), "--output-dir", out,
                               photo("a.png"), photo("b.png"), photo("c.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(written().isEmpty());
    EXPECT_EQ(r.errLines().filter(path("nowhere.jpg") + ": cannot be read").size(), 1)
        << r.err.toStdString();
    EXPECT_TRUE(r.errLines().last().startsWith("0 written, 3 failed, ")) << r.err.toStdString();
}

TEST_F(BatchCommand, ALaterPhotoOfTheSameNameDoesNotReplaceTheEarlierResult) {
    const QString first = photo("a/shot.png", QSize(160, 120));
    const QString second = photo("b/shot.jpg", QSize(90, 60));
    const BatchResult r =
        run({"--background", background(), "--output-dir", out, "--jobs", "2", first, second});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(written(), QStringList{"shot.png"});
    EXPECT_EQ(QImage(out + "/shot.png").size(), QSize(160, 120)) << "the first photo's result";
    const QStringList clash = r.errLines().filter(second + ": not written");
    ASSERT_EQ(clash.size(), 1) << r.err.toStdString();
    EXPECT_TRUE(clash.first().contains(first));
}

TEST_F(BatchCommand, AResultNeverReplacesOneOfTheRunsPhotos) {
    // A PNG foreground kept in the output folder would have its own name as result.
    const QString inside = photo("out/studio.png");
    const QByteArray before = [&] {
        QFile f(inside);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const BatchResult r = run({"--background", background(), "--output-dir", out, inside});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines().filter(inside + ": not written").size(), 1) << r.err.toStdString();
    QFile f(inside);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(BatchCommand, AFolderItCannotWriteInFailsTheRunBeforeAnyWork) {
    ASSERT_TRUE(QDir().mkpath(out));
    const QString fg = photo("a.png");
    const QString bg = background();
    // root may write anywhere, so the tool then runs as nobody, from a copy that nobody can
    // reach (the build folder may be inside root's home), on photos nobody can read.
    QStringList wrapper;
    QString program = QStringLiteral(MATTORA_BATCH_EXE);
    if (geteuid() == 0) {
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            GTEST_SKIP() << "needs setpriv to run as another user";
        wrapper = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        program = path("mattora-batch");
        ASSERT_TRUE(QFile::copy(MATTORA_BATCH_EXE, program));
        ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7755)));
        ASSERT_TRUE(QFile::setPermissions(program, QFile::Permissions(0x7755)));
        ASSERT_TRUE(QFile::setPermissions(fg, QFile::Permissions(0x6644)));
        ASSERT_TRUE(QFile::setPermissions(bg, QFile::Permissions(0x6644)));
    }
    ASSERT_TRUE(QFile::setPermissions(out, QFile::Permissions(0x5555)));
    const BatchResult r =
        runBatchTool({"--background", bg, "--output-dir", out, fg}, path("home"), wrapper, program);
    QFile::setPermissions(out, QFile::Permissions(0x7700));
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.errLines().filter(out + ": cannot write in the output folder").size(), 1)
        << r.err.toStdString();
    EXPECT_TRUE(QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(BatchCommand, AnOutputFolderThatCannotBeMadeFailsTheRun) {
    QFile file(path("plainfile"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const BatchResult r =
        run({"--transparent", "--output-dir", path("plainfile/out"), photo("a.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines().filter("cannot be created").size(), 1) << r.err.toStdString();
}

TEST_F(BatchCommand, OnAPipeEachPhotoGetsOneLineThenTheSummary) {
    const BatchResult r = run({"--background", background(), "--output-dir", out, "--jobs", "2",
                               photo("a.png"), photo("b.png"), photo("c.png")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.errLines();
    ASSERT_EQ(lines.size(), 4) << r.err.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("[%1/3] ").arg(i + 1)))
            << lines[i].toStdString();
    EXPECT_EQ(lines.filter(" -> " + out + "/b.png").size(), 1);
    EXPECT_TRUE(lines[3].startsWith("3 written, 0 failed, ")) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].endsWith(" seconds"));
    EXPECT_EQ(written(), (QStringList{"a.png", "b.png", "c.png"}));
}

TEST(BatchProgress, OnATerminalTheBarIsRedrawnInPlaceAndClearedForMessages) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        batch::Progress progress(f, true, 4);
        progress.started("/shoot/IMG_1.JPG");
        progress.finished("/shoot/IMG_1.JPG", "/out/IMG_1.png", true);
        progress.started("/shoot/IMG_2.JPG");
        progress.problem("mattora-batch: /shoot/IMG_2.JPG: cannot be read");
        progress.finished("/shoot/IMG_2.JPG", QString(), false);
        EXPECT_EQ(progress.summary(), 1);
    }
    std::rewind(f);
    QByteArray text(4096, '\0');
    text.resize(qsizetype(std::fread(text.data(), 1, size_t(text.size()), f)));
    std::fclose(f);
    EXPECT_FALSE(text.contains("[1/4] /shoot")) << "no per-photo lines on a terminal";
    const QByteArray bar = "\r[" + QByteArray(7, '#') + QByteArray(23, '.') + "] 1/4  IMG_1.JPG  ";
    EXPECT_TRUE(text.contains(bar)) << text.toStdString();
    EXPECT_TRUE(text.contains(" left")) << text.toStdString();
    EXPECT_TRUE(text.contains("\r\x1b[Kmattora-batch: /shoot/IMG_2.JPG: cannot be read\n"));
    EXPECT_TRUE(text.contains("2/4  IMG_2.JPG"));
    EXPECT_TRUE(text.contains("\r\x1b[K1 written, 1 failed, ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(" seconds\n"));
}
