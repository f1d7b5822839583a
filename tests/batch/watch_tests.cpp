// mattora-batch --watch: a hot folder fed as a camera or a copy would, then stopped by a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "batch_process.h"
#include "qt_printers.h"
#include "support/photos.h"

namespace {

constexpr int kSettleMs = 300;

// Writes `bytes` in `parts` pieces with a pause between them, as a slow copy does, through one
// open file: a writer that closes between pieces is indistinguishable from two complete writes.
void write(const QString& file, const QByteArray& bytes, int parts = 1, int secondsAgo = 0) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const qsizetype step = bytes.size() / parts + 1;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        f.write(bytes.mid(at, step));
        f.flush();
        if (at + step < bytes.size())
            QThread::msleep(kSettleMs / 3);
    }
    const QDateTime time = QDateTime::currentDateTime().addSecs(-secondsAgo);
    ASSERT_TRUE(!secondsAgo || f.setFileTime(time, QFileDevice::FileModificationTime));
}

// Writes a green studio shot to `file`, encoded as a file of its type holds it.
void shoot(const QString& file, int parts = 1, int secondsAgo = 0) {
    const QByteArray type = QFileInfo(file).suffix().toUpper().toLatin1();
    write(file, photos::encoded(photos::studioShot(160, 120), type.constData()), parts, secondsAgo);
}

}  // namespace

TEST(WatchFolder, EachCompletePhotoIsDoneOnceAndASignalEndsWithTheSummary) {
    QTemporaryDir dir;
    const QString hot = dir.filePath("hot"), out = dir.filePath("out");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("elsewhere")));
    const auto twoStepsAndRenamed = [&] {
        shoot(hot + "/c.png", 2);
        shoot(dir.filePath("elsewhere/d.jpeg"));
        ASSERT_TRUE(QFile::rename(dir.filePath("elsewhere/d.jpeg"), hot + "/d.jpeg"));
    };
    const auto atStart = [&] {  // with results from an earlier run, newer and older
        shoot(hot + "/a.png");
        shoot(hot + "/B.JPG");
        write(hot + "/notes.txt", "not a photo");
        shoot(hot + "/e.png", 1, 60);
        write(out + "/e.png", "kept");
        write(out + "/f.png", "stale", 1, 60);
        shoot(hot + "/f.png");
    };
    const auto thenDamaged = [&] {
        twoStepsAndRenamed();
        write(hot + "/g.jpg", "\xff\xd8\xff\xe0 not really a JPEG");
        QThread::msleep(kSettleMs * 3);
        write(hot + "/other.txt", "a change in the folder");
    };
    const struct {
        const char* what;
        std::function<void()> feed;
        bool beforeStart;
        const char* results;                   // the files left in the output folder
        int photoLines, problemLines, signal;  // the exit status is 128 + the signal
        int settleMs = kSettleMs;
    } cases[] = {
        {"photos present at start; a newer result is kept", atStart, true,
         "B.png a.png e.png f.png", 3, 0, SIGINT},
        {"two steps, renamed in, damaged reported once though the folder changes", thenDamaged,
         false, "c.png d.png", 3, 1, SIGTERM},
#ifdef Q_OS_LINUX
        {"closed or renamed in: taken though the settle time never passes", twoStepsAndRenamed,
         false, "c.png d.png", 2, 0, SIGINT, 3600 * 1000},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(hot).removeRecursively();
        QDir(out).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(hot) && QDir().mkpath(out));
        if (c.beforeStart)
            c.feed();
        QProcess p;
        p.setReadChannel(QProcess::StandardError);
        startBatchTool(p, {"--transparent", "--output-dir", out, "--watch", hot},
                       dir.filePath("home"),
                       {"MATTORA_WATCH_SETTLE_MS=" + QString::number(c.settleMs)});
        ASSERT_TRUE(p.waitForStarted());
        if (!c.beforeStart)
            c.feed();
        // Waits for the photo lines, then for a quiet spell in which a second round would show.
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000 && err.count("\n[") + err.startsWith('[') < c.photoLines)
            if (p.waitForReadyRead(100))
                err += p.readAllStandardError();
        QThread::msleep(kSettleMs * 3);
        ::kill(pid_t(p.processId()), c.signal);
        EXPECT_TRUE(p.waitForFinished(20000));
        err += p.readAllStandardError();
        const QStringList lines = QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts);
        SCOPED_TRACE(err.toStdString());
        EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, 128 + c.signal);
        EXPECT_EQ(lines.filter(QRegularExpression("^\\[\\d+\\] ")).size(), c.photoLines);
        EXPECT_EQ(
            lines.filter(QRegularExpression("^mattora-batch: .*g.jpg: cannot be read")).size(),
            c.problemLines);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.last().startsWith(
            QStringLiteral("%1 written, ").arg(c.photoLines - c.problemLines)));
        // Nothing half-written or temporary is left beside the results.
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  QString(c.results).split(' '));
    }
}
