// The batch tool as a command: usage errors, photos it cannot read or write, each named with
// its reason while the good photos of the same run are written, a full disk, and its reports.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "batch_process.h"
#include "exif_jpeg.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/hostile.h"
#include "support/photos.h"
#include "support/plates.h"

namespace {

class BatchCommand : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString photo(const QString& name, QSize size = QSize(160, 120)) {
        const QString file = photos::saved(path(name), size);
        EXPECT_FALSE(file.isEmpty()) << name.toStdString();
        return file;
    }
    // A run over a studio-shot background unless the arguments say otherwise.
    BatchResult run(QStringList args, bool background = true, const QStringList& env = {}) {
        if (background)
            args.prepend(photo("bg.png", QSize(240, 180))), args.prepend("--background");
        return runBatchTool(args, path("home"), env);
    }
    static QStringList written(const QString& dir) {
        return QDir(dir).entryList({"*.png"}, QDir::Files, QDir::Name);
    }
    // How many of the lines on stderr hold every one of `parts`.
    static qsizetype said(const BatchResult& r, const QStringList& parts) {
        QStringList lines = r.errLines();
        for (const QString& part : parts)
            lines = lines.filter(part);
        return lines.size();
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(BatchCommand, UsageErrorsNameTheProblemAndWriteNothingTheEndsOfEachRangeAreAccepted) {
    const QString fg = photo("a.png"), out = path("out");
    const struct {
        QStringList args;  // after --output-dir
        const char* problem;
        bool background = true;
    } cases[] = {
        {{fg, "--magic", "0"}, "--magic must be a whole number from 1 to 10"},
        {{fg, "--fine", "101"}, "--fine must be a whole number from -100 to 100"},
        {{fg, "--coarse", "-101"}, "--coarse must be a whole number from -100 to 100"},
        {{fg, "--coarse", "101"}, "--coarse must be"},
        {{fg, "--spill", "41"}, "--spill must be a whole number from 0 to 40"},
        {{fg, "--fg-size", "4"}, "--fg-size must be a whole number from 5 to 200"},
        {{fg, "--jobs", "0"}, "--jobs must be"},
        {{fg, "--rotation", "45"}, "--rotation must be 0, 90, 180 or 270"},
        {{fg, "--canvas", "square"}, "--canvas must be foreground or background"},
        {{fg, "--bg-scale", "stretch"}, "--bg-scale must be fit or actual"},
        {{fg, "--offset", "1,2,3"}, "--offset must be two whole numbers X,Y"},
        {{fg, "--format", "gif"}, "--format must be png, jpeg or tiff"},
        {{fg, "--format", "jpeg", "--quality", "0"}, "--quality of a JPEG must be from 1 to 100"},
        {{fg, "--format", "jpeg", "--transparent"}, "--format jpeg cannot keep a transparent"},
        {{fg, "--bogus"}, "Unknown option 'bogus'"},
        {{fg, "--magic"}, "Missing value after '--magic'"},
        {{fg, "--keep-shadows"}, "--keep-shadows needs --plate FILE"},
        {{fg, "--plate", "p.png", "--magic", "9"}, "--plate keys with Magic Number 10 only"},
        {{fg, "--recursive"}, "--recursive needs --watch"},
        {{fg}, "no background photo", false},
        {{}, "no foreground photo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const BatchResult r = run(QStringList{"--output-dir", out} + c.args, c.background);
        const QString first = r.errLines().value(0);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(first.startsWith("mattora-batch: ") && first.contains(c.problem))
            << first.toStdString();
        EXPECT_TRUE(r.err.contains("Usage:"));
        EXPECT_FALSE(QFileInfo::exists(out) || QFileInfo::exists(path("home")))
            << "nothing is written on a usage error, not even the default output folder";
    }
    const BatchResult watch = run({"--transparent", "--output-dir", out, "--watch", fg}, false);
    EXPECT_EQ(watch.status, 2);
    EXPECT_EQ(watch.errLines().value(0), "mattora-batch: " + fg + ": not a folder");

    // The ends of the ranges are accepted; the default output folder is the window's.
    BatchResult r = run({"--magic", "1", "--fine", "-100", "--coarse", "100", "--spill", "40",
                         "--fg-size", "200", "--quality", "0", "--rotation", "270", fg});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    r = run({"--magic", "10", "--fine", "100", "--coarse", "-100", "--fg-size", "5",
             "--transparent", photo("b.png")},
            false);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(written(path("home/Documents/Verdalux")), (QStringList{"a.png", "b.png"}));
}

// Two photos of one name and a photo lying in the output folder are left to the tests of result
// names below and in formats_tests.cpp.
TEST_F(BatchCommand, EachBadFileIsNamedWithItsReasonAndTheGoodOnesAreWritten) {
    const QByteArray jpeg = readFile(photo("source.jpg", QSize(400, 300))),
                     png = readFile(photo("source.png"));
    ASSERT_FALSE(jpeg.isEmpty() || png.isEmpty());
    QByteArray bomb = jpeg.left(1262), flipped = png;  // the bomb says 30000 x 17000
    bomb.replace(bomb.indexOf("\xff\xc0") + 5, 4, QByteArray("\x42\x68\x75\x30", 4));
    flipped[png.size() / 2] = char(png[png.size() / 2] ^ 0x10);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600), 0);
    QDir(m_dir.path()).mkdir("folder.jpg");
    const QString out = path("out");
    QList<std::pair<QString, QString>> cases = {
        {writeFile(path("cut1.jpg"), jpeg.left(1500)), "cannot be read: damaged: "},
        {writeFile(path("cut2.jpg"), jpeg.left(jpeg.size() * 2 / 3)), "damaged: Corrupt JPEG data"},
        {writeFile(path("cut3.png"), png.left(png.size() / 2)), "damaged"},
        {writeFile(path("flip1.png"), flipped), "damaged: IDAT: CRC error"},
        {writeFile(path("bomb.jpg"), bomb),
         "too large (30000 x 17000 pixels against the limit of 250 megapixels)"},
        {writeFile(path("wide.bmp"), hostile::bmpClaiming(30000, 30000)),
         "too large (30000 x 30000 pixels against the limit"},
        {writeFile(path("tall.png"), hostile::pngClaiming(1, 2000000000)),
         "too large (1 x 2000000000 pixels against the limit"},
        {writeFile(path("scans1.jpg"), hostile::repeatedScans(400)),
         "damaged: scan 11 adds nothing to the scans before it"},
        {writeFile(path("scans2.jpg"), hostile::manyScans(301)), "damaged: more than 300 scans"},
        {writeFile(path("loop.tif"), hostile::editedTiff(0, 0)), "damaged: its pages form a loop"},
        {path("pipe.jpg"), "not a regular file"},
        {path("folder.jpg"), "is a folder"},
        {path("gone.jpg"), "no such file"},
        {writeFile(path("notes.jpg"), "shopping list"), "not a photo in a format we read"},
    };
    if (::geteuid() != 0) {  // root reads it anyway
        cases.append({writeFile(path("secret.jpg"), jpeg), "permission denied"});
        QFile::setPermissions(path("secret.jpg"), QFileDevice::Permissions());
    }
    // A sound photo with an odd tag (a resolution unit of 120) is written; libtiff's complaint
    // reaches no one.
    const QString odd = writeFile(path("odd.tif"), hostile::editedTiff(296, 120));
    QStringList args{"--output-dir", out, "--jobs", "2", photo("good1.png"), odd};
    for (const auto& [file, reason] : cases)
        args << file;
    const BatchResult r = run(args << photo("good2.jpg"));
    SCOPED_TRACE(r.err.toStdString());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(written(out), (QStringList{"good1.png", "good2.png", "odd.png"}));
    for (const auto& [file, reason] : cases)
        EXPECT_EQ(said(r, {"mattora-batch: " + file + ": ", reason}), 1) << reason.toStdString();
    const QStringList e = r.errLines();
    EXPECT_TRUE(e.filter(QRegularExpression("^(?!mattora-batch: |\\[)")).size() == 1)
        << "no loose lines of the decoders' libraries, only the summary";
    // One line a photo as it ends, "[done/total]", then the summary.
    const int total = int(cases.size()) + 3;
    EXPECT_EQ(e.filter(QRegularExpression(QStringLiteral("\\[\\d+/%1\\] ").arg(total))).size(),
              total);
    EXPECT_EQ(said(r, {"] " + path("good1.png") + " -> " + out + "/good1.png"}), 1);
    EXPECT_TRUE(e.last().startsWith(QStringLiteral("3 written, %1 failed, ").arg(total - 3)) &&
                e.last().endsWith(" seconds"));
}

// Runs that each end with their status and summary, say each problem once and write what they
// can: damaged photos kept on request, large ones refused, no backdrop found, no background or
// output folder, the keyers' debug line, and shots keyed against a plate.
TEST_F(BatchCommand, EachRunSaysEachProblemOnceAndWritesWhatItCan) {
    const QByteArray jpeg = readFile(photo("source.jpg", QSize(400, 300)));
    writeFile(path("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3));
    ASSERT_TRUE(writePortraitJpeg(path("portrait.jpg")));
    QImage sheet(96, 64, QImage::Format_RGB32);
    sheet.fill(qRgb(118, 128, 150));  // a grey-blue sheet, no blue screen
    const std::pair<const char*, QImage> images[] = {
        {"sheet.png", sheet},
        {"shot.png", plates::shotWithShadow()},
        {"plate.png", plates::plate()},
        {"small.png", plates::plate().copy(0, 0, 300, 240)},
        {"blue.png", plates::frame(plates::kBlue, 0, 0, {1, 1, 1}, 1)},
    };
    for (const auto& [name, image] : images)
        ASSERT_TRUE(image.save(path(name))) << name;
    photo("wide.png", QSize(1200, 900)), photo("a.png"), photo("b.png");
    const QString shot = path("shot.png") + ": ";
    const struct {
        const char* out;      // the output folder
        const char* args;     // split at spaces; a word with a dot names a file here
        const char* written;  // split at spaces
        int failed;
        QString said = {};  // the tool's own lines, split at newlines, each by its parts split at |
        int debug = 0;      // lines of the keyer's debug output
    } cases[] = {
        {"kept",
         "--transparent --magic 7 --keep-damaged --max-megapixels 1 cut.jpg wide.png portrait.jpg",
         "cut.png portrait.png", 1,
         "cut.jpg: damaged: |written as far as\nwide.png: cannot be read: too large (1200 x 900 "
         "pixels"},
        {"sheet", "--magic 10 --blue --transparent sheet.png", "sheet.png", 0,
         "sheet.png|no backdrop of the chosen colour found; nothing keyed"},
        {"no background", "--background nowhere.jpg a.png b.png", "", 2,
         "nowhere.jpg: cannot be read"},
        {"sheet.png/out", "--transparent a.png b.png", "", 2, "cannot be created"},
        {"magic 8", "--transparent --magic 8 a.png b.png", "a.png b.png", 0},
        {"verbose 8", "--transparent --magic 8 --verbose a.png b.png", "a.png b.png", 0, {}, 2},
        {"verbose", "--transparent --verbose a.png b.png", "a.png b.png", 0},
        {"plate", "--transparent --plate plate.png shot.png", "shot.png", 0},
        {"shadows", "--transparent --plate plate.png --keep-shadows shot.png", "shot.png", 0},
        {"another size", "--transparent --plate small.png shot.png", "", 1,
         shot + "|cannot be keyed: it is 320 x 240 pixels, its backdrop plate|" +
             path("small.png")},
        {"another backdrop", "--transparent --plate blue.png shot.png", "shot.png", 0,
         shot + "|does not fit this shot|" + path("blue.png")},
        {"no plate there", "--transparent --plate gone.png shot.png", "", 1,
         shot + "|the backdrop plate|" + path("gone.png")},
    };
    for (const auto& c : cases) {
        QStringList args{"--output-dir", path(c.out)};
        for (const QString& word : QString(c.args).split(' '))
            args << (word.contains('.') && !word.startsWith("--") ? path(word) : word);
        const BatchResult r = run(args, false);
        SCOPED_TRACE(c.out + ("\n" + r.err.toStdString()));
        const QStringList e = r.errLines(), lines = c.said.split('\n', Qt::SkipEmptyParts),
                          files = QString(c.written).split(' ', Qt::SkipEmptyParts);
        EXPECT_EQ(r.status, c.failed ? 1 : 0);
        EXPECT_EQ(written(path(c.out)), files);
        EXPECT_EQ(e.filter(QRegularExpression("^mattora-batch: ")).size(), lines.size());
        for (const QString& line : lines)
            EXPECT_EQ(said(r, QStringList{"mattora-batch: "} + line.split(QLatin1Char('|'))), 1)
                << line.toStdString();
        EXPECT_EQ(said(r, {"Running Maskout9"}), c.debug);
        EXPECT_TRUE(
            e.value(e.size() - 1)
                .startsWith(
                    QStringLiteral("%1 written, %2 failed, ").arg(files.size()).arg(c.failed)));
    }
    // Keyed by the colour of the upright corner; the sheet is left as it was.
    const QImage upright(path("kept/portrait.png"));
    ASSERT_EQ(upright.size(), QSize(24, 48));
    EXPECT_EQ(qAlpha(upright.pixel(3, 3)), 0) << "green, the upright corner, is keyed";
    EXPECT_EQ(qAlpha(upright.pixel(20, 3)), 255) << "blue stays";
    EXPECT_EQ(QImage(path("sheet/sheet.png")).pixel(5, 5), qRgb(118, 128, 150));
    // Each shot keyed against its plate: the subject stays, its shadow only on request.
    for (const auto& [out, shadow] :
         {std::pair("plate", 0), {"shadows", 102}, {"another backdrop", 0}}) {
        const QImage result(path(out) + "/shot.png");
        EXPECT_EQ(qAlpha(result.pixel(70, 120)), 255) << out << ": the subject";
        EXPECT_NEAR(qAlpha(result.pixel(190, 120)), shadow, 6) << out << ": the shadow";
        EXPECT_EQ(result.pixel(300, 220), 0u) << out << ": the backdrop";
    }
}

TEST_F(BatchCommand, ResultsReplaceWhatLiesAtTheirNameNeverALinksTargetAndNamesArePrintedSafely) {
    const QString out = path("out"), victim = writeFile(path("victim/notes.txt"), "my notes");
    QDir().mkpath(out + "/folder.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(out + "/pipe.png").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(victim, out + "/linked.png"));
    ASSERT_TRUE(QFile::link(path("victim/none.txt"), out + "/dangling.png"));
    const QString longStem(246, QLatin1Char('n')), escape = "esc\x1b]2;OWNED\x07\x1b[2J";
    const std::pair<QString, QString> cases[] = {
        // a photo and its result's name
        {photo("linked.png"), "linked-2.png"},
        {photo("dangling.png"), "dangling-2.png"},
        {photo(longStem + ".jpg"), longStem + ".png"},
        {photo(".hidden.jpg"), ".hidden.png"},
        {photo(escape + ".png"), escape + ".png"},
        {writeFile(path("ztxt.png"), hostile::textBomb("zTXt", 40, 4 << 20)), "ztxt.png"},
        {writeFile(path("itxt.png"), hostile::textBomb("iTXt", 40, 4 << 20)), "itxt.png"},
        {photo("folder.png"), "folder-2.png"},
        {photo("pipe.png"), "pipe-2.png"},
    };
    QStringList args{"--output-dir", out};
    for (const auto& c : cases)
        args << c.first;
    for (int round = 0; round < 2; ++round) {  // the second replaces the first's results
        const BatchResult r = run(args);
        SCOPED_TRACE(r.err.toStdString());
        EXPECT_EQ(r.status, 0);
        for (const auto& c : cases) {
            const QFileInfo result(out + "/" + c.second);
            EXPECT_TRUE(result.isFile() && !result.isSymLink() &&
                        !QImage(result.filePath()).isNull())
                << c.second.toStdString();
        }
        EXPECT_EQ(readFile(victim), "my notes");
        EXPECT_FALSE(QFileInfo::exists(path("victim/none.txt")));
        EXPECT_FALSE(r.err.contains('\x1b') || r.err.contains('\x07'));
        EXPECT_EQ(said(r, {"esc\\033]2;OWNED\\007\\033[2J.png -> "}), 1);
    }
    EXPECT_EQ(QImage(out + "/ztxt.png").size(), QSize(8, 8));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
              std::size(cases) + 3)
        << "no temporary file is left; the two links and the pipe are left alone";
}

TEST_F(BatchCommand, AFullDiskStopsTheRunAndCountsThePhotosNotBegun) {
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
    EXPECT_EQ(said(r, {"big0.png: could not be written"}), 1);
    EXPECT_EQ(r.errLines().last(),
              "mattora-batch: stopped, no space left in " + out + "; 4 of 6 photos not begun")
        << r.err.toStdString();
}

TEST_F(BatchCommand, AnyNumberOfJobsWritesTheSameBytesAndAPhotoOutOfMemoryFailsAlone) {
    QStringList photos;
    for (int i = 0; i < 6; ++i)
        photos << photo(QStringLiteral("p%1.png").arg(i), QSize(160 + 8 * i, 120));
    const QString starved = photo("starved.png", QSize(123, 90));
    QHash<QString, QByteArray> first;  // result -> bytes, per keyer
    // Whether the keyer finds no memory for starved.png, and the jobs and keyer of the run.
    for (const bool starving : {false, true})
        for (const char* jobs : {"--jobs 1", "--jobs 2", "--jobs 4 --magic 10"}) {
            const QStringList args = QString(jobs).split(' '),
                              env = starving ? QStringList{"MATTORA_FAIL_KEY_WIDTH=123"}
                                             : QStringList();
            SCOPED_TRACE((args + env).join(' ').toStdString());
            const QString out = path("out-" + (args + env).join('-'));
            const BatchResult r = run(
                args + QStringList{"--output-dir", out} + photos + QStringList{starved}, true, env);
            EXPECT_EQ(r.status, starving ? 1 : 0) << r.err.toStdString();
            EXPECT_EQ(said(r, {starved + ": cannot be composed: out of memory"}), starving ? 1 : 0);
            EXPECT_EQ(written(out).size(), photos.size() + (starving ? 0 : 1));
            for (const QString& name : written(out)) {
                const QString key = (args.contains("10") ? "soft/" : "") + name;
                const QByteArray bytes = readFile(out + "/" + name);
                if (!first.contains(key))
                    first.insert(key, bytes);
                EXPECT_EQ(bytes, first.value(key)) << name.toStdString();
            }
        }
}

TEST_F(BatchCommand, ASecondSignalEndsAtOnceAndLeavesNoTemporaryFile) {
    const QString big = photo("big.png", QSize(3000, 2000)), out = path("out");
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QDir(out).removeRecursively();
        QProcess p;
        startBatchTool(p, {"--transparent", "--quality", "0", "--output-dir", out, big},
                       path("home"));
        ASSERT_TRUE(p.waitForStarted());
        // Once the result is being written (a file below `out` is open in the program, not the
        // probe of the folder): the first signal lets it finish, the second not.
        waitForOpenFile(p.processId(), [&](const QString& file) {
            return file.startsWith(out + "/") && !file.contains(".mattora-batch-");
        });
        ::kill(pid_t(p.processId()), signal);
        QThread::msleep(20);
        ::kill(pid_t(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, 128 + signal);
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList())
            << "neither a temporary file nor a result";
    }
}
