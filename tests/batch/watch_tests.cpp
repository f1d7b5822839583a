// mattora-batch --watch: a hot folder fed as a camera or a copy would, then stopped by a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "qt_printers.h"

namespace {

constexpr int kSettleMs = 300;

class WatchFolder : public ::testing::Test {
public:  // the table's feeding steps use them
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(hot) && QDir().mkpath(path("elsewhere")));
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A green studio shot, encoded as a file of `name`'s type would hold it.
    static QByteArray shot(const QString& name) {
        QImage img(160, 120, QImage::Format_RGB32);
        img.fill(qRgb(30, 200, 60));
        for (int y = 30; y < 90; ++y)
            for (int x = 40; x < 120; ++x)
                img.setPixel(x, y, qRgb(120, 110, 100));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        img.save(&buffer, QFileInfo(name).suffix().toUpper().toLatin1().constData());
        return bytes;
    }
    // Writes `bytes` in `parts` pieces with a pause between them, as a slow copy does, through
    // one open file: a writer that closes between pieces is indistinguishable from two
    // complete writes.
    static void write(const QString& file, const QByteArray& bytes, int parts = 1) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const qsizetype step = bytes.size() / parts + 1;
        for (qsizetype at = 0; at < bytes.size(); at += step) {
            f.write(bytes.mid(at, step));
            f.flush();
            if (at + step < bytes.size())
                QThread::msleep(kSettleMs / 3);
        }
    }
    void setAge(const QString& file, int secondsAgo) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                  QFileDevice::FileModificationTime));
    }

    // Starts the watch, runs `feed`, waits for `lines` photo lines and a quiet spell in which a
    // second round would show, then sends `signal`. Returns the exit status and stderr lines.
    std::pair<int, QStringList> watch(const std::function<void()>& feed, int lines, int signal,
                                      int settleMs = kSettleMs) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home"));
        env.insert("MATTORA_WATCH_SETTLE_MS", QString::number(settleMs));
        p.setProcessEnvironment(env);
        p.setReadChannel(QProcess::StandardError);
        p.start(MATTORA_BATCH_EXE, {"--transparent", "--output-dir", out, "--watch", hot});
        EXPECT_TRUE(p.waitForStarted());
        feed();
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000 && err.count("\n[") + err.startsWith('[') < lines)
            if (p.waitForReadyRead(100))
                err += p.readAllStandardError();
        QThread::msleep(kSettleMs * 3);
        ::kill(pid_t(p.processId()), signal);
        EXPECT_TRUE(p.waitForFinished(20000));
        err += p.readAllStandardError();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts)};
    }

    QTemporaryDir m_dir;
    const QString hot = path("hot");
    const QString out = path("out");
};

}  // namespace

TEST_F(WatchFolder, EachCompletePhotoIsDoneOnceAndASignalEndsWithTheSummary) {
    const struct Case {
        const char* what;
        std::function<void(WatchFolder&)> before, during;  // feeding the folder
        QStringList results;
        struct {
            int photoLines, problemLines, signal;  // the exit status is 128 + the signal
        } expect;
    } cases[] = {
        {"photos present at start",
         [](WatchFolder& t) {
             write(t.hot + "/a.png", shot("a.png"));
             write(t.hot + "/B.JPG", shot("B.JPG"));
             write(t.hot + "/notes.txt", "not a photo");
         },
         nullptr,
         {"B.png", "a.png"},
         {2, 0, SIGINT}},
        {"a photo written in two steps through one open file",
         nullptr,
         [](WatchFolder& t) { write(t.hot + "/c.png", shot("c.png"), 2); },
         {"c.png"},
         {1, 0, SIGTERM}},
        {"a photo renamed into the folder",
         nullptr,
         [](WatchFolder& t) {
             write(t.path("elsewhere/d.jpeg"), shot("d.jpeg"));
             ASSERT_TRUE(QFile::rename(t.path("elsewhere/d.jpeg"), t.hot + "/d.jpeg"));
         },
         {"d.png"},
         {1, 0, SIGINT}},
        {"a result newer than its photo, from an earlier run",
         [](WatchFolder& t) {
             write(t.hot + "/e.png", shot("e.png"));
             t.setAge(t.hot + "/e.png", 60);
             write(t.out + "/e.png", "kept");
         },
         nullptr,
         {"e.png"},
         {0, 0, SIGINT}},
        {"a result older than its photo",
         [](WatchFolder& t) {
             write(t.out + "/f.png", "stale");
             t.setAge(t.out + "/f.png", 60);
             write(t.hot + "/f.png", shot("f.png"));
         },
         nullptr,
         {"f.png"},
         {1, 0, SIGINT}},
        {"a damaged photo, reported once though the folder changes",
         nullptr,
         [](WatchFolder& t) {
             write(t.hot + "/g.jpg", "\xff\xd8\xff\xe0 not really a JPEG");
             QThread::msleep(kSettleMs * 3);
             write(t.hot + "/other.txt", "a change in the folder");
         },
         {},
         {1, 1, SIGINT}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(hot).removeRecursively();
        QDir(out).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(hot) && QDir().mkpath(out));
        if (c.before)
            c.before(*this);
        const auto [status, lines] = watch(
            [&] {
                if (c.during)
                    c.during(*this);
            },
            c.expect.photoLines, c.expect.signal);
        const std::string all = lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(status, 128 + c.expect.signal) << all;
        EXPECT_EQ(lines.filter(QRegularExpression("^\\[\\d+\\] ")).size(), c.expect.photoLines)
            << all;
        EXPECT_EQ(
            lines.filter(QRegularExpression("^mattora-batch: .*g.jpg: cannot be read")).size(),
            c.expect.problemLines)
            << all;
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.last().startsWith(
            QStringLiteral("%1 written, ").arg(c.expect.photoLines - c.expect.problemLines)))
            << all;
        // Nothing half-written or temporary is left beside the results.
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), c.results);
    }
}

#ifdef Q_OS_LINUX
// A photo closed by its writer, or renamed in, is taken though the settle time never passes.
TEST_F(WatchFolder, AClosedPhotoIsTakenWithoutTheSettleTime) {
    ASSERT_TRUE(QDir().mkpath(out));
    const auto [status, lines] = watch(
        [&] {
            write(hot + "/c.png", shot("c.png"), 2);
            write(path("elsewhere/d.jpeg"), shot("d.jpeg"));
            ASSERT_TRUE(QFile::rename(path("elsewhere/d.jpeg"), hot + "/d.jpeg"));
        },
        2, SIGINT, 3600 * 1000);
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_EQ(lines.filter(QRegularExpression("^\\[\\d+\\] ")).size(), 2)
        << lines.join('\n').toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name), QStringList({"c.png", "d.png"}));
}
#endif
