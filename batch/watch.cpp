#include "batch/watch.h"

#include <sys/stat.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#endif

#include "batch/photojob.h"
#include "batch/terminaltext.h"
#include "formats/result.h"
#include "results/photonames.h"

namespace batch {

namespace {

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// What the watch knows of one photo. Versions are results::photoVersion texts.
struct Entry {
    QString seen;           // the version last looked at
    qint64 seenAtMs = 0;    // when it was first seen
    qint64 modifiedMs = 0;  // its modification time
    bool closed = false;    // its writer closed it (or it was renamed in) at that version
    QString done;           // written at this version ...
    QString doneDigest;     // ... of these bytes
    QString failed;         // reported at this version; tried again when it changes
    QString retry;          // read as damaged once at this version: tried again at retryAtMs
    qint64 retryAtMs = 0;
    bool queued = false;
    bool inFlight = false;
    bool lookAgain = false;  // it changed while in flight
};

class Watch {
public:
    Watch(const Options& o, std::FILE* out, bool terminal, const std::atomic<int>& stopSignal,
          const WatchTiming& timing)
        : m_o(o),
          m_dir(QDir(o.watchDir).absolutePath()),
          m_outDir(QDir(o.outputDir).absolutePath()),
          m_out(out),
          m_terminal(terminal),
          m_stopSignal(stopSignal),
          m_timing(timing),
          m_shared{o, {}, QImage(), nullptr, [this] { return m_stopSignal != 0; }},
          m_limit(std::max(1, o.jobs)) {}

    int run() {
        m_clock.start();
        if (QFileInfo::exists(m_dir) && !QFileInfo(m_dir).isDir()) {
            line(problemLine(m_dir, QStringLiteral("not a folder")));
            return 2;
        }
        if (!QDir().mkpath(m_outDir)) {
            line(problemLine(m_outDir, QStringLiteral("the output folder cannot be created")));
            return 1;
        }
        const QString outCanonical = QFileInfo(m_outDir).canonicalFilePath();
        if (outCanonical == QFileInfo(m_dir).canonicalFilePath()) {
            // Each result would arrive as a new photo.
            line(problemLine(m_dir,
                             QStringLiteral("the output folder must not be the watched one")));
            return 2;
        }
        qint64 budget = memoryBudget();
        if (!m_o.transparent) {
            for (const QString& path : m_o.backgrounds) {
                QString why, warning;
                BackgroundLayer b;
                b.path = path;
                b.layer = readBackground(path, m_o, &why, &warning);
                if (b.layer.isNull()) {
                    line(problemLine(path, why));
                    return 1;
                }
                if (!warning.isEmpty())
                    line(problemLine(path, warning));
                b.size = b.layer.size();
                budget -= qint64(b.layer.sizeInBytes()) * 2;
                m_backgroundKeys.insert(results::sourceName(path));
                m_shared.backgrounds.push_back(b);
            }
        }
        if (!m_o.overlay.isEmpty()) {
            QString why;
            m_shared.overlay = readOverlay(m_o.overlay, m_o, &why);
            if (m_shared.overlay.isNull()) {
                line(problemLine(m_o.overlay, why));
                return 1;
            }
            budget -= qint64(m_shared.overlay.sizeInBytes()) * 2;
        }
        m_gate = std::make_unique<MemoryGate>(std::max<qint64>(budget, 0));
        m_shared.gate = m_gate.get();
        m_pool.setMaxThreadCount(std::max(1, m_o.jobs));

        m_settle.setSingleShot(true);
        m_settle.setTimerType(Qt::PreciseTimer);  // a coarse one may be 5 % late
        QObject::connect(&m_settle, &QTimer::timeout, &m_context, [this] { lookAtPending(); });
        m_retry.setInterval(m_timing.retryMs);
        QObject::connect(&m_retry, &QTimer::timeout, &m_context, [this] { retry(); });
        // Signal handlers may only set a flag; the loop looks at it now and then.
        QTimer stopPoll;
        QObject::connect(&stopPoll, &QTimer::timeout, &m_context, [this] { stopWhenIdle(); });
        stopPoll.start(50);
#ifdef Q_OS_LINUX
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify >= 0) {
            m_events = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
            QObject::connect(m_events.get(), &QSocketNotifier::activated, &m_context,
                             [this] { readEvents(); });
        }
#endif
        if (m_inotify < 0)  // nothing tells of changes: the folder is listed now and then
            m_retry.start();
        startLine();
        QTimer::singleShot(0, &m_context, [this] { rescan(); });

        const int status = QCoreApplication::exec();
        m_pool.waitForDone();
#ifdef Q_OS_LINUX
        m_events.reset();
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

    void startLine() {
        QString text =
            QStringLiteral("mattora-batch: watching %1").arg(QDir::toNativeSeparators(m_dir));
        if (m_o.recursive) {
            text += QStringLiteral(" and the folders inside it");
        } else {
            const int inside = int(QDir(m_dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
            if (inside > 0)
                text += QStringLiteral(
                            "; %1 folder(s) inside it are not watched (--recursive "
                            "watches them)")
                            .arg(inside);
        }
        line(text);
    }

    // The folders watched: the watched one and, with --recursive, those inside it, but never
    // the output folder or what lies in it.
    bool watchedFolder(const QString& dir) const {
        if (dir == m_dir)
            return true;
        if (!m_o.recursive || !dir.startsWith(m_dir + QLatin1Char('/')))
            return false;
        return !(dir == m_outDir || dir.startsWith(m_outDir + QLatin1Char('/')));
    }

    // Lists every watched folder and looks at every photo: at start, after a lost
    // notification and when the folder comes back. Photos are taken oldest first.
    void rescan() {
        if (!QFileInfo(m_dir).isDir()) {
            folderGone();
            return;
        }
        // Each folder is watched before it is listed, so a folder or photo made inside it
        // meanwhile is either listed or notified.
        QStringList folders{m_dir};
        QList<std::pair<qint64, QString>> photos;
        QSet<QString> present;
        for (qsizetype i = 0; i < folders.size(); ++i) {
            const QString folder = folders.at(i);
            addWatch(folder);
            if (m_o.recursive) {
                const QFileInfoList inside = QDir(folder).entryInfoList(
                    QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
                for (const QFileInfo& d : inside)
                    if (watchedFolder(d.absoluteFilePath()))
                        folders << d.absoluteFilePath();
            }
            const QFileInfoList files = QDir(folder).entryInfoList(results::photoNamePatterns(),
                                                                   QDir::Files | QDir::NoSymLinks);
            for (const QFileInfo& f : files) {
                photos.append({f.lastModified().toMSecsSinceEpoch(), f.absoluteFilePath()});
                present.insert(f.absoluteFilePath());
            }
        }
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = present.contains(it.key()) || it->inFlight ? std::next(it) : m_entries.erase(it);
        std::stable_sort(photos.begin(), photos.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& photo : photos)
            look(photo.second, false);
        dispatch();
    }

    void folderGone() {
        if (!m_gone)
            line(problemLine(m_dir,
                             QStringLiteral("the watched folder is missing; waiting for it")));
        m_gone = true;
#ifdef Q_OS_LINUX
        for (auto it = m_folders.begin(); it != m_folders.end(); ++it)
            inotify_rm_watch(m_inotify, it.key());
        m_folders.clear();
#endif
        m_retry.start();
    }

    void addWatch(const QString& folder) {
#ifdef Q_OS_LINUX
        if (m_inotify < 0)
            return;
        const int wd = inotify_add_watch(m_inotify, QFile::encodeName(folder).constData(),
                                         IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                             IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                             IN_ONLYDIR | IN_DONT_FOLLOW);
        if (wd >= 0)
            m_folders.insert(wd, folder);
#else
        Q_UNUSED(folder);
#endif
    }

#ifdef Q_OS_LINUX
    // Follows the folders by the names their notifications give; a lost notification (a full
    // queue) costs one full listing.
    void readEvents() {
        alignas(inotify_event) char buffer[64 * 1024];
        bool lost = false, rootGone = false;
        ssize_t n;
        while ((n = ::read(m_inotify, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + e->len);
                if (e->mask & IN_Q_OVERFLOW) {
                    lost = true;
                    continue;
                }
                const QString folder = m_folders.value(e->wd);
                if (folder.isEmpty())
                    continue;
                if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    if (!(e->mask & IN_IGNORED))
                        inotify_rm_watch(m_inotify, e->wd);
                    m_folders.remove(e->wd);
                    rootGone = rootGone || folder == m_dir;
                    forgetUnder(folder);
                    continue;
                }
                if (e->len == 0)
                    continue;
                const QString path = folder + QLatin1Char('/') + QFile::decodeName(e->name);
                if (e->mask & IN_ISDIR) {
                    if ((e->mask & (IN_CREATE | IN_MOVED_TO)) && watchedFolder(path))
                        lost = true;  // its photos may have come before its watch
                    else if (e->mask & (IN_MOVED_FROM | IN_DELETE))
                        forgetUnder(path);
                    continue;
                }
                if (!results::isPhotoName(QFile::decodeName(e->name)))
                    continue;
                look(path, e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO));
            }
        }
        if (rootGone)
            folderGone();
        else if (lost)
            rescan();
        dispatch();
    }
#endif

    void forgetUnder(const QString& folder) {
        const QString prefix = folder + QLatin1Char('/');
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = it.key().startsWith(prefix) && !it->inFlight ? m_entries.erase(it) : std::next(it);
    }

    // The version a done photo has now is done too when only its times changed (a copy that
    // sets them after closing the file) and its bytes are the same.
    bool isDone(Entry& e, const QString& path, const QString& version) {
        if (e.done.isEmpty())
            return false;
        if (version == e.done)
            return true;
        if (!results::sameFileAndSize(version, e.done) || e.doneDigest.isEmpty() ||
            results::photoDigest(path) != e.doneDigest)
            return false;
        e.done = version;
        return true;
    }

    // Looks at one photo after a notification or a listing: queues it once it is complete and
    // not done at this version. `closed`: its writer has just closed it, or it was renamed in.
    void look(const QString& path, bool closed) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            const auto it = m_entries.find(path);
            if (it != m_entries.end() && !it->inFlight && !it->queued)
                m_entries.erase(it);
            return;
        }
        Entry& e = m_entries[path];
        if (e.inFlight) {
            e.lookAgain = true;
            return;
        }
        const QString version = results::photoVersion(path);
        const qint64 now = nowMs();
        if (version != e.seen) {
            e.seen = version;
            e.seenAtMs = now;
            e.modifiedMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
            e.closed = false;
        }
        e.closed = e.closed || closed;
        if (e.queued || version == e.failed || isDone(e, path, version))
            return;
        if (st.st_size == 0) {  // an empty file is never a finished photo
            e.closed = false;
            pend(path, now + m_timing.settleMs);
            return;
        }
        // Closed by its writer and unchanged since, or untouched for the settle time by its own
        // clock or by what this watch has seen; a damaged read waits out its second chance.
        qint64 readyAt = e.closed ? now : std::min(e.modifiedMs, e.seenAtMs) + m_timing.settleMs;
        if (version == e.retry)
            readyAt = std::max(readyAt, e.retryAtMs);
        if (readyAt > now) {
            pend(path, readyAt);
            return;
        }
        m_pending.remove(path);
        e.queued = true;
        m_queue.append(path);
    }

    void pend(const QString& path, qint64 at) {
        m_pending.insert(path, at);
        const qint64 first = *std::min_element(m_pending.cbegin(), m_pending.cend());
        m_settle.start(int(qBound(qint64(1), first - nowMs() + 1, qint64(24) * 3600 * 1000)));
    }

    void lookAtPending() {
        const qint64 now = nowMs();
        const QStringList due = [&] {
            QStringList out;
            for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
                if (it.value() <= now)
                    out << it.key();
            return out;
        }();
        for (const QString& path : due) {
            m_pending.remove(path);
            look(path, false);
        }
        if (!m_pending.isEmpty()) {
            const qint64 first = *std::min_element(m_pending.cbegin(), m_pending.cend());
            m_settle.start(int(qBound(qint64(1), first - nowMs() + 1, qint64(24) * 3600 * 1000)));
        }
        dispatch();
    }

    // The photo that holds a result name in this run (a result written, or a background).
    QString claimOf(const QString& path) const {
        const QString key = results::sourceName(path);
        if (m_backgroundKeys.contains(key))
            return key;
        return m_claims.value(key);
    }

    // Where each result of `path` goes: one per background with several, else one.
    QList<results::ResultSlot> slotsOf(const QString& path) const {
        const bool paired = !m_o.transparent && m_o.backgrounds.size() > 1;
        QList<results::ResultSlot> out;
        for (const QString& bg : paired ? m_o.backgrounds : QStringList{QString()}) {
            results::ResultKind kind;
            if (paired)
                kind = {results::pairedStem(path, bg), bg};
            out << results::resultSlot(
                m_outDir, path, [this](const QString& p) { return claimOf(p); },
                formats::suffix(m_o.format), kind);
        }
        return out;
    }

    // Starts queued photos while fewer than --jobs are in flight and the output side works.
    void dispatch() {
        while (!m_stopSignal && !m_outputBlocked && m_inFlight < m_limit && !m_queue.isEmpty()) {
            const QString path = m_queue.takeFirst();
            Entry& e = m_entries[path];
            e.queued = false;
            const QList<results::ResultSlot> places = slotsOf(path);
            const QString version = results::photoVersion(path);
            if (version.isEmpty())
                continue;  // gone meanwhile
            const bool paired = places.size() > 1;
            // Done by an earlier run of the watch, at this very version or these bytes: every
            // result of it records the same version.
            const results::ResultSlot& first = places.first();
            const bool allRecorded = std::all_of(places.begin(), places.end(), [&](const auto& sl) {
                return sl.was.exists && !sl.was.version.isEmpty() &&
                       sl.was.version == first.was.version && sl.was.digest == first.was.digest;
            });
            if (allRecorded) {
                e.done = first.was.version;
                e.doneDigest = first.was.digest;
                for (int k = 0; k < places.size(); ++k)
                    m_claims.insert(
                        results::sourceName(places[k].path),
                        results::resultIdentity(path, paired ? m_o.backgrounds[k] : QString()));
                if (isDone(e, path, version))
                    continue;
            }
            QStringList outputs;
            bool noName = false;
            for (int k = 0; k < places.size(); ++k) {
                const QString note = results::slotNote(places[k]);
                if (!note.isEmpty() && !m_noted.contains(places[k].first)) {
                    m_noted.insert(places[k].first);
                    line(problemLine(path, note));
                }
                noName = noName || places[k].path.isEmpty();
                outputs << places[k].path;
            }
            if (noName) {
                e.failed = version;
                finishLine(path, QString(), false);
                continue;
            }
            for (int k = 0; k < places.size(); ++k)
                m_claims.insert(
                    results::sourceName(places[k].path),
                    results::resultIdentity(path, paired ? m_o.backgrounds[k] : QString()));
            e.inFlight = true;
            ++m_inFlight;
            m_pool.start([this, path, outputs] {
                // Each worker keeps the backgrounds scaled for the last photo, as in a plain run.
                thread_local std::vector<compose::ComposeCache> caches;
                const JobResult r = runPhotoJob(path, outputs, m_shared, &caches);
                const QString output = outputs.join(QStringLiteral(", "));
                QMetaObject::invokeMethod(
                    &m_context, [this, path, output, r] { finished(path, output, r); },
                    Qt::QueuedConnection);
            });
        }
        drawStatus();
    }

    void finishLine(const QString& path, const QString& output, bool written) {
        (written ? m_written : m_failed) += 1;
        line(written ? QStringLiteral("[%1] %2 -> %3").arg(m_written + m_failed).arg(path, output)
                     : QStringLiteral("[%1] %2 not written").arg(m_written + m_failed).arg(path));
    }

    void finished(const QString& path, const QString& output, const JobResult& r) {
        --m_inFlight;
        Entry& e = m_entries[path];
        e.inFlight = false;
        const bool againLater = e.lookAgain;
        e.lookAgain = false;
        using Outcome = JobResult::Outcome;
        using Problem = PhotoLoad::Problem;
        if (r.outcome == Outcome::Written) {
            e.done = r.version;
            e.doneDigest = r.digest;
            if (!r.warning.isEmpty())
                line(problemLine(path, r.warning));
            finishLine(path, output, true);
            m_outputTold = false;
            m_limit = std::max(1, m_o.jobs);
        } else if (r.outcome == Outcome::NotBegun) {
            // Stopping: left for the next run.
        } else if (r.outputSide) {
            // No space, or the output folder went: the photo waits until writing works again.
            if (!m_outputTold)
                line(problemLine(path, r.problem + QStringLiteral("; waiting to write it")));
            m_outputTold = true;
            m_outputBlocked = true;
            m_queue.prepend(path);
            e.queued = true;
            m_retry.start();
        } else if ((r.readProblem == Problem::Damaged || r.readProblem == Problem::NotAPhoto) &&
                   e.retry != r.version) {
            // Read as its writer may still be finishing it: once more after the settle time.
            e.retry = r.version;
            e.retryAtMs = nowMs() + m_timing.settleMs;
            pend(path, e.retryAtMs);
        } else {
            e.failed = r.version;  // tried again only when it changes
            line(problemLine(path, r.problem));
            finishLine(path, QString(), false);
        }
        if (againLater || results::photoVersion(path) != r.version)
            look(path, false);
        dispatch();
    }

    // Now and then while something waits: a missing watched folder, or an output side that
    // failed (the output folder is made again).
    void retry() {
        if (m_gone && QFileInfo(m_dir).isDir()) {
            line(problemLine(m_dir, QStringLiteral("the watched folder is back")));
            m_gone = false;
            rescan();
        } else if (m_inotify < 0 && !m_gone) {
            rescan();
        }
        if (m_outputBlocked && QDir().mkpath(m_outDir)) {
            m_outputBlocked = false;  // one photo tells whether writing works again
            m_limit = 1;
            dispatch();
        }
        if (!m_gone && !m_outputBlocked && m_inotify >= 0)
            m_retry.stop();
    }

    void stopWhenIdle() {
        if (m_stopSignal && m_inFlight == 0)
            QCoreApplication::exit(128 + m_stopSignal);
    }

    const Options& m_o;
    const QString m_dir;
    const QString m_outDir;
    std::FILE* m_out;
    const bool m_terminal;
    const std::atomic<int>& m_stopSignal;
    const WatchTiming m_timing;
    std::unique_ptr<MemoryGate> m_gate;
    JobShared m_shared;
    int m_limit;  // photos in flight at most: --jobs, or 1 while finding out whether writes work
    QSet<QString> m_backgroundKeys;
    QObject m_context;  // receives the notifications and the finished photos on the loop
    QThreadPool m_pool;
    QTimer m_settle;
    QTimer m_retry;
    QHash<QString, Entry> m_entries;
    QHash<QString, qint64> m_pending;  // photos not yet complete -> when to look again
    QStringList m_queue;               // complete photos, in the order to key them
    QHash<QString, QString> m_claims;  // result -> the photo it is of
    QSet<QString> m_noted;             // photos whose result name was told
    int m_inFlight = 0;
    bool m_outputBlocked = false;
    bool m_outputTold = false;
    int m_inotify = -1;
#ifdef Q_OS_LINUX
    QHash<int, QString> m_folders;  // watch descriptor -> folder
    std::unique_ptr<QSocketNotifier> m_events;
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
