#include "batch/watch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QTimer>
#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#endif

#include "batch/runner.h"
#include "batch/terminaltext.h"
#include "core/photofile.h"
#include "formats/result.h"

namespace batch {

namespace {

// The window's hot folder takes the same names; QDir matches them in any letter case.
const QStringList kPhotoPatterns = {QStringLiteral("*.xpm"),  QStringLiteral("*.png"),
                                    QStringLiteral("*.bmp"),  QStringLiteral("*.tif"),
                                    QStringLiteral("*.tiff"), QStringLiteral("*.jpg"),
                                    QStringLiteral("*.jpeg")};

// What a photo looked like when last seen; a change to either means it is being (re)written.
struct Signature {
    qint64 size = -1;
    qint64 modifiedMs = 0;
    bool operator==(const Signature& o) const {
        return size == o.size && modifiedMs == o.modifiedMs;
    }
};

struct Pending {
    Signature seen;
    qint64 seenAtMs = 0;  // when `seen` was first observed
};

class Watch {
public:
    Watch(const Options& o, std::FILE* out, bool terminal, const std::atomic<int>& stopSignal,
          const WatchTiming& timing)
        : m_o(o),
          m_dir(QDir(o.watchDir).absolutePath()),
          m_out(out),
          m_terminal(terminal),
          m_stopSignal(stopSignal),
          m_timing(timing) {}

    int run() {
        m_clock.start();
        if (QFileInfo::exists(m_dir) && !QFileInfo(m_dir).isDir()) {
            line(problem(m_dir, QStringLiteral("not a folder")));
            return 2;
        }
        if (!QDir().mkpath(m_o.outputDir)) {
            line(problem(m_o.outputDir, QStringLiteral("the output folder cannot be created")));
            return 1;
        }
        if (QFileInfo(m_o.outputDir).canonicalFilePath() == QFileInfo(m_dir).canonicalFilePath()) {
            // Each result would arrive as a new photo.
            line(problem(m_dir, QStringLiteral("the output folder must not be the watched one")));
            return 2;
        }
        if (!m_o.transparent) {
            const PhotoLoad decoded = readPhoto(m_o.background, m_o.maxPixels);
            if (!decoded.ok() || decoded.image.isNull()) {
                line(problem(m_o.background, problemText(decoded)));
                return 1;
            }
            if (!decoded.note.isEmpty())
                line(problem(m_o.background, decoded.note));
            m_background = compose::backgroundLayer(decoded.image);
        }

        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, [this] { scan(); });
        m_rescan.setInterval(m_timing.rescanMs);
        QObject::connect(&m_rescan, &QTimer::timeout, [this] { scan(); });
        m_rescan.start();
#ifdef Q_OS_LINUX
        watchCloses();
#endif
        m_deadline.setSingleShot(true);
        m_deadline.setTimerType(Qt::PreciseTimer);  // a coarse one may be 5 % late
        QObject::connect(&m_deadline, &QTimer::timeout, [this] { scan(); });
        // Signal handlers may only set a flag; the loop looks at it between photos.
        QTimer stopPoll;
        QObject::connect(&stopPoll, &QTimer::timeout, [this] {
            if (m_stopSignal)
                QCoreApplication::exit(128 + m_stopSignal);
        });
        stopPoll.start(50);
        QTimer::singleShot(0, &m_rescan, [this] { scan(); });

        const int status = QCoreApplication::exec();
#ifdef Q_OS_LINUX
        m_closes.reset();
        if (m_inotify >= 0)
            ::close(m_inotify);
#endif
        clearStatus();
        put(QStringLiteral("%1 written, %2 failed, %3 seconds\n")
                .arg(m_written)
                .arg(m_failed)
                .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1));
        return status;
    }

private:
    static QString problem(const QString& file, const QString& what) {
        return QStringLiteral("mattora-batch: %1: %2").arg(QDir::toNativeSeparators(file), what);
    }

    void put(const QString& text) {
        const QByteArray bytes = text.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
        std::fflush(m_out);
    }
    void clearStatus() {
        if (m_terminal)
            put(QStringLiteral("\r\x1b[K"));
    }
    void drawStatus() {
        if (m_terminal)
            put(QStringLiteral("\r%1 done, watching %2\x1b[K")
                    .arg(m_written + m_failed)
                    .arg(terminalText(QDir::toNativeSeparators(m_dir))));
    }
    // A line stays above the status line.
    void line(const QString& text) {
        clearStatus();
        put(terminalText(text) + QLatin1Char('\n'));
        drawStatus();
    }

    // True while the folder is there; says once when it goes and when it comes back.
    bool folderPresent() {
        if (!QFileInfo(m_dir).isDir()) {
            if (!m_gone)
                line(problem(m_dir,
                             QStringLiteral("the watched folder is missing; waiting for it")));
            m_gone = true;
            return false;
        }
        if (m_gone)
            line(problem(m_dir, QStringLiteral("the watched folder is back")));
        m_gone = false;
        if (!m_watcher.directories().contains(m_dir))
            m_watcher.addPath(m_dir);  // a folder made anew is a new inode to watch
#ifdef Q_OS_LINUX
        if (m_inotify >= 0 && m_wd < 0)
            m_wd = inotify_add_watch(m_inotify, QFile::encodeName(m_dir).constData(),
                                     IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR);
#endif
        return true;
    }

#ifdef Q_OS_LINUX
    // A photo whose writer closed it, or that was renamed in, is complete: it need not wait for
    // the settle time. Without inotify the settle rule alone decides.
    void watchCloses() {
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0)
            return;
        m_closes = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
        QObject::connect(m_closes.get(), &QSocketNotifier::activated, [this] { readCloses(); });
    }

    void readCloses() {
        alignas(inotify_event) char buffer[16 * 1024];
        ssize_t n;
        while ((n = ::read(m_inotify, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + e->len);
                if (e->wd == m_wd && (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
                    if (!(e->mask & IN_IGNORED))
                        inotify_rm_watch(m_inotify, m_wd);
                    m_wd = -1;  // the folder's next inode is watched once it is back
                } else if (e->len > 0 && (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))) {
                    // The file as it was closed; should it change after, the settle rule holds.
                    const QFileInfo file(m_dir + QLatin1Char('/') + QFile::decodeName(e->name));
                    m_closed.insert(
                        file.absoluteFilePath(),
                        Signature{file.size(), file.lastModified().toMSecsSinceEpoch()});
                }
            }
        }
        scan();
    }
#endif

    // Lists the folder, keys the oldest photo that is complete and not yet done, and comes
    // back for the next one, so that a stop request is seen between photos.
    void scan() {
        if (m_stopSignal || !folderPresent())
            return;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        qint64 nextDeadline = -1;
        QHash<QString, Pending> stillPending;
        const QFileInfoList photos = QDir(m_dir).entryInfoList(
            kPhotoPatterns, QDir::Files | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
        for (const QFileInfo& photo : photos) {
            const QString path = photo.absoluteFilePath();
            const Signature sig{photo.size(), photo.lastModified().toMSecsSinceEpoch()};
            if (m_failures.value(path) == sig)
                continue;  // reported already; only a new version is tried again
            const QFileInfo result(formats::resultFileName(m_o.outputDir, path, m_o.format));
            if (result.exists() && result.lastModified().toMSecsSinceEpoch() >= sig.modifiedMs)
                continue;
            Pending p = m_pending.value(path);
            if (!(p.seen == sig))
                p = Pending{sig, now};
            // Closed by its writer and unchanged since, or untouched for the settle time by its
            // own clock, or by what this loop has seen.
            const auto closed = m_closed.constFind(path);
            const qint64 readyAt =
                closed != m_closed.constEnd() && *closed == sig
                    ? now
                    : qMin(sig.modifiedMs + m_timing.settleMs, p.seenAtMs + m_timing.settleMs);
            if (readyAt <= now) {
                m_pending.remove(path);
                process(path, sig);
                QTimer::singleShot(0, &m_rescan, [this] { scan(); });
                return;
            }
            stillPending.insert(path, p);
            nextDeadline = nextDeadline < 0 ? readyAt : qMin(nextDeadline, readyAt);
        }
        m_pending = stillPending;
        m_closed.clear();  // every close seen so far was used, or the file changed after it
        if (nextDeadline >= 0)
            m_deadline.start(
                int(qBound(qint64(1), nextDeadline - now + 1, qint64(m_timing.rescanMs))));
        drawStatus();
    }

    void process(const QString& path, const Signature& sig) {
        const QString output = formats::resultFileName(m_o.outputDir, path, m_o.format);
        QString why, warning;
        bool written = false;
        CameraInfo camera;
        const QImage composite =
            composePhoto(path, m_background, m_o, &m_cache, &why, &warning, &camera);
        m_cache.foreground.clear();
        if (!warning.isEmpty())
            line(problem(path, warning));
        if (composite.isNull()) {
            line(problem(path, why));
        } else {
            written =
                formats::writeResult(composite, camera, output, m_o.format, m_o.quality, &why);
            if (!written)
                line(problem(path, QStringLiteral("could not be written to %1: %2")
                                       .arg(QDir::toNativeSeparators(output), why)));
        }
        if (!written)
            m_failures.insert(path, sig);
        (written ? m_written : m_failed) += 1;
        line(written ? QStringLiteral("[%1] %2 -> %3").arg(m_written + m_failed).arg(path, output)
                     : QStringLiteral("[%1] %2 not written").arg(m_written + m_failed).arg(path));
    }

    const Options& m_o;
    const QString m_dir;
    std::FILE* m_out;
    const bool m_terminal;
    const std::atomic<int>& m_stopSignal;
    const WatchTiming m_timing;
    QImage m_background;
    compose::ComposeCache m_cache;
    QFileSystemWatcher m_watcher;
    QTimer m_rescan;
    QTimer m_deadline;
    QHash<QString, Pending> m_pending;
    QHash<QString, Signature> m_failures;
    QHash<QString, Signature> m_closed;  // photos as their writer closed them
#ifdef Q_OS_LINUX
    int m_inotify = -1;
    int m_wd = -1;
    std::unique_ptr<QSocketNotifier> m_closes;
#endif
    QElapsedTimer m_clock;
    int m_written = 0;
    int m_failed = 0;
    bool m_gone = false;
};

}  // namespace

WatchTiming watchTimingFromEnvironment() {
    WatchTiming t;
    bool ok = false;
    const int settle = qEnvironmentVariableIntValue("MATTORA_WATCH_SETTLE_MS", &ok);
    if (ok && settle >= 0)
        t.settleMs = settle;
    return t;
}

int watchFolder(const Options& o, std::FILE* out, bool terminal, const std::atomic<int>& stopSignal,
                const WatchTiming& timing) {
    return Watch(o, out, terminal, stopSignal, timing).run();
}

}  // namespace batch
