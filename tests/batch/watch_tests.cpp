// mattora-batch --watch: a hot folder fed as a camera, a copy or a card reader would, then
// stopped by a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>

#include "batch_process.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/photos.h"

namespace {

constexpr int kSettleMs = 300;
qint64 watchedPid = 0;  // the running watch, for a feed that waits on what it has open

// Writes `bytes` in `parts` pieces with a pause between them, as a slow copy does, through one
// open file, or with the file closed and opened again between them when `reopen`. `daysAhead`
// dates it as a camera whose clock is wrong would.
void write(const QString& file, const QByteArray& bytes, int parts = 1, bool reopen = false,
           int daysAhead = 0) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const qsizetype step = bytes.size() / parts + 1;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        f.write(bytes.mid(at, step));
        f.flush();
        if (at + step < bytes.size()) {
            if (reopen)
                f.close();
            QThread::msleep(kSettleMs / 3);
            ASSERT_TRUE(!reopen || f.open(QIODevice::Append));
        }
    }
    ASSERT_TRUE(!daysAhead || f.setFileTime(QDateTime::currentDateTime().addDays(daysAhead),
                                            QFileDevice::FileModificationTime));
}

// A green studio shot of `size`, encoded as a file of its type holds it.
QByteArray shot(const QString& file, QSize size = QSize(160, 120)) {
    const QByteArray type = QFileInfo(file).suffix().toUpper().toLatin1();
    return photos::encoded(photos::studioShot(size.width(), size.height()), type.constData());
}
void shoot(const QString& file, int parts = 1, bool reopen = false, int daysAhead = 0) {
    write(file, shot(file), parts, reopen, daysAhead);
}

struct Watched {
    int status = -1;
    QStringList lines;
    int photoLines() const { return int(lines.filter(QRegularExpression("^\\[\\d+\\] ")).size()); }
};

// Runs a watch over `hot`, calls `feed` once it started, waits for `photoLines` photo lines and
// a quiet spell in which a second round would show, then sends `signal`. The wait is long: a
// loaded machine running the sanitizer build is slow, and only a failing case waits it out.
// `env` may set its own MATTORA_WATCH_SETTLE_MS.
Watched watch(const QStringList& args, const QString& home, const std::function<void()>& feed,
              int photoLines, int signal = SIGINT, const QStringList& env = {}) {
    QProcess p;
    p.setReadChannel(QProcess::StandardError);
    startBatchTool(p, args, home,
                   QStringList{"MATTORA_WATCH_SETTLE_MS=" + QString::number(kSettleMs)} + env);
    Watched w;
    if (!p.waitForStarted())
        return w;
    watchedPid = p.processId();
    QByteArray err;
    while (!err.contains("watching") && p.waitForReadyRead(5000))
        err += p.readAllStandardError();
    if (feed)
        feed();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000 && err.count("\n[") + err.startsWith('[') < photoLines)
        if (p.waitForReadyRead(100))
            err += p.readAllStandardError();
    QThread::msleep(kSettleMs * 4);
    ::kill(pid_t(p.processId()), signal);
    p.waitForFinished(20000);
    err += p.readAllStandardError();
    w.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    w.lines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts);
    return w;
}

}  // namespace

TEST(WatchFolder, EachCompletePhotoIsDoneOnceNothingIsOverwrittenAndASignalEndsWithTheSummary) {
    QTemporaryDir dir;
    const QString hot = dir.filePath("hot"), out = dir.filePath("out");
    const struct {
        const char* what;
        std::function<void()> feed;
        const char* results;  // the files left in the output folder
        int photoLines;
        QStringList told = {};  // lines said once each
        QStringList args = {};
        std::function<void()> before = {};
        // "again": a second watch over the same folders does nothing; "small disk": the output
        // folder is a small disk of its own; "SIGTERM" ends it instead of SIGINT; NAME=value
        // settings for its environment.
        QStringList extra = {};
    } cases[] = {
        {"present at start, done once over restarts; a file at a result's name is kept",
         {},
         "B.png a.png e-2.png e.png",
         3,
         {"e.png: e.png is a file that is not a result of this photo; written as e-2.png"},
         {},
         [&] {
             shoot(hot + "/a.png");
             shoot(hot + "/B.JPG");
             write(hot + "/notes.txt", "not a photo");
             shoot(hot + "/e.png");
             write(out + "/e.png", "kept");
         },
         {"again"}},
        {"two steps with a close between, renamed in, empty at first: no false failure; a "
         "damaged one is reported once though the folder changes",
         [&] {
             shoot(hot + "/c.png", 2, true);
             shoot(dir.filePath("elsewhere/d.jpeg"));
             ASSERT_TRUE(QFile::rename(dir.filePath("elsewhere/d.jpeg"), hot + "/d.jpeg"));
             write(hot + "/h.png", QByteArray());
             QThread::msleep(kSettleMs / 3);
             shoot(hot + "/h.png");
             write(hot + "/g.jpg", "\xff\xd8\xff\xe0 not really a JPEG");
             QThread::msleep(kSettleMs * 3);
             write(hot + "/other.txt", "a change in the folder");
         },
         "c.png d.png h.png",
         4,
         {"g.jpg: cannot be read"},
         {},
         {},
         {"SIGTERM"}},
#ifdef Q_OS_LINUX
        {"closed or renamed in: taken though the settle time never passes",
         [&] {
             shoot(hot + "/c.png", 3);
             shoot(hot + "/k.png", 2, true);
             shoot(dir.filePath("elsewhere/d.jpeg"));
             ASSERT_TRUE(QFile::rename(dir.filePath("elsewhere/d.jpeg"), hot + "/d.jpeg"));
         },
         "c.png d.png k.png",
         3,
         {},
         {},
         {},
         {"MATTORA_WATCH_SETTLE_MS=3600000"}},
#endif
        {"cards in folders: one name from two cards gives two results and one line",
         [&] {
             QThread::msleep(kSettleMs * 2);
             shoot(hot + "/card2/IMG_0021.JPG");
             shoot(hot + "/card2/deeper/IMG_0022.JPG");
         },
         "IMG_0021-2.png IMG_0021.png IMG_0022.png",
         3,
         {"watching " + hot + " and the folders inside it",
          "card2/IMG_0021.JPG: IMG_0021.png holds the result of " + hot +
              "/card1/IMG_0021.JPG; written as IMG_0021-2.png"},
         {"--recursive", "--jobs", "2"},
         [&] { shoot(hot + "/card1/IMG_0021.JPG"); }},
        {"with --recursive, the output folder inside the watched one is left out",
         [&] { shoot(hot + "/inside.png"); },
         "",
         1,
         {},
         {"--recursive", "--output-dir", hot + "/results"}},
        {"without --recursive the folders inside are named, not watched",
         {},
         "",
         0,
         {"1 folder(s) inside it are not watched"},
         {},
         [&] { shoot(hot + "/card1/IMG_0001.JPG"); }},
        {"the background is never replaced; a photo dated ahead is done once",
         [&] {
             shoot(hot + "/backdrop.jpg");
             shoot(hot + "/ahead.png", 1, false, 1);
         },
         "ahead.png backdrop-2.png backdrop.png",
         2,
         {"backdrop.jpg: backdrop.png is a photo in use (" + out +
          "/backdrop.png); written as backdrop-2.png"},
         {"--background", out + "/backdrop.png"},
         [&] { photos::saved(out + "/backdrop.png", QSize(200, 150)); }},
        {"two backgrounds: a result over each, done once over restarts",
         [&] { shoot(hot + "/guest.png"); },
         "guest-hall.png guest-sea.png",
         1,
         {},
         {"--background", dir.filePath("bg/sea.png"), "--background", dir.filePath("bg/hall.png")},
         [&] {
             photos::saved(dir.filePath("bg/sea.png"), QSize(200, 150));
             photos::saved(dir.filePath("bg/hall.png"), QSize(180, 120));
         },
         {"again"}},
        {"out of memory for one photo: it is named, the others are written",
         [&] {
             write(hot + "/starved.png", shot("x.png", QSize(123, 80)));
             shoot(hot + "/fed.png");
         },
         "fed.png",
         2,
         {"starved.png: cannot be composed: out of memory"},
         {"--jobs", "2"},
         {},
         {"MATTORA_FAIL_KEY_WIDTH=123"}},
        {"a full disk: said once, the photos written once there is room",
         [&] {
             shoot(hot + "/full1.png");
             shoot(hot + "/full2.png");
             QThread::msleep(1000);
             QFile::remove(out + "/filler");
         },
         "full1.png full2.png",
         2,
         {"waiting to write it"},
         {"--jobs", "2"},
         [&] { writeFile(out + "/filler", QByteArray(200 * 1024, 'x')); },
         {"small disk"}},
        {"memory for one photo at a time: they wait their turn and all are written",
         [&] {
             for (const char* name : {"/m1.png", "/m2.png", "/m3.png"})  // 1.4 MB each at work
                 write(hot + name, shot(name, QSize(400, 300)));
         },
         "m1.png m2.png m3.png",
         3,
         {},
         {"--jobs", "3"},
         {},
         {"MATTORA_MEMORY_BUDGET_MB=1"}},
        {"the output folder removed: made again, the photo written",
         [&] {
             QDir(out).removeRecursively();
             shoot(hot + "/late.png");
         },
         "late.png", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(hot).removeRecursively();
        QDir(out).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(hot) && QDir().mkpath(out));
        const bool smallDisk = c.extra.contains("small disk");
        const int signal = c.extra.contains("SIGTERM") ? SIGTERM : SIGINT;
        if (smallDisk &&
            ::mount("tmpfs", QFile::encodeName(out).constData(), "tmpfs", 0, "size=256k") != 0) {
            std::printf("skipped (no tmpfs can be mounted here): %s\n", c.what);
            continue;
        }
        if (c.before)
            c.before();
        QStringList args = QStringList{"--output-dir", out, "--watch", hot} + c.args;
        if (!args.contains("--background"))
            args << "--transparent";
        const Watched w =
            watch(args, dir.filePath("home"), c.feed, c.photoLines, signal, c.extra.filter("="));
        SCOPED_TRACE(w.lines.join('\n').toStdString());
        EXPECT_EQ(w.status, 128 + signal);
        EXPECT_EQ(w.photoLines(), c.photoLines);
        const QRegularExpression failures("cannot be read|out of memory|written as");
        EXPECT_EQ(w.lines.filter(failures).size(), c.told.filter(failures).size())
            << "no other failure or clash line";
        for (const QString& t : c.told)
            EXPECT_EQ(w.lines.filter(t).size(), 1) << t.toStdString();
        ASSERT_FALSE(w.lines.isEmpty());
        EXPECT_TRUE(w.lines.last().contains(" written, ")) << "the summary comes last";
        // Nothing half-written or temporary is left beside the results.
        const QStringList left = QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_EQ(left, QString(c.results).split(' ', Qt::SkipEmptyParts));
        if (smallDisk)
            ::umount(QFile::encodeName(out).constData());
        if (c.extra.contains("again")) {
            QHash<QString, QByteArray> before;
            for (const QString& f : left)
                before.insert(f, readFile(out + "/" + f));
            const Watched w2 = watch(args, dir.filePath("home"), {}, 0);
            EXPECT_EQ(w2.photoLines(), 0) << w2.lines.join('\n').toStdString();
            for (const QString& f : left)
                EXPECT_EQ(readFile(out + "/" + f), before.value(f)) << f.toStdString();
        }
    }
}

TEST(WatchFolder, APhotoReplacedWhileItIsKeyedIsKeyedAgain) {
    QTemporaryDir dir;
    const QString hot = dir.filePath("hot"), out = dir.filePath("out"), p = hot + "/p.png";
    ASSERT_TRUE(QDir().mkpath(hot) && QDir().mkpath(out));
    // Each version renamed over the photo there, as a copy tool renames its finished file.
    const auto arrive = [&](const QByteArray& bytes) {
        write(dir.filePath("stage.png"), bytes);
        ASSERT_EQ(std::rename(QFile::encodeName(dir.filePath("stage.png")).constData(),
                              QFile::encodeName(p).constData()),
                  0);
    };
    const Watched w = watch(
        {"--transparent", "--output-dir", out, "--watch", hot}, dir.filePath("home"),
        [&] {
            arrive(photos::encoded(photos::studioShot(3000, 2000), "PNG"));
            // Once the watch is reading the first version, the second takes its place.
            waitForOpenFile(watchedPid, [&](const QString& file) { return file == p; });
            arrive(shot("x.png", QSize(160, 120)));
        },
        2);
    SCOPED_TRACE(w.lines.join('\n').toStdString());
    EXPECT_EQ(w.photoLines(), 2) << "keyed twice, once for each version";
    EXPECT_EQ(QImage(out + "/p.png").size(), QSize(160, 120)) << "the result is the second's";
}
