#include "batch/runner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "batch/plate.h"
#include "core/photofile.h"
#include "formats/result.h"
#include "keying/photoframe.h"

namespace batch {

namespace {

QString problemLine(const QString& file, const QString& what) {
    return QStringLiteral("mattora-batch: %1: %2").arg(QDir::toNativeSeparators(file), what);
}

QString fileKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    const QString key = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
#ifdef Q_OS_DARWIN
    return key.toLower();  // the usual macOS disk ignores case
#else
    return key;
#endif
}

// The output of each foreground, or an empty string with a problem line for one that must not
// be written: its name clashes with an earlier foreground's result, or its result would
// replace one of the run's own photos.
QStringList plannedOutputs(const Options& o, Progress& progress) {
    QHash<QString, QString> inputs;  // file key -> photo
    for (const QString& fg : o.foregrounds)
        inputs.insert(fileKey(fg), fg);
    if (!o.transparent)
        inputs.insert(fileKey(o.background), o.background);

    QHash<QString, QString> claimed;  // output key -> foreground that writes it
    QStringList outputs;
    for (const QString& fg : o.foregrounds) {
        const QString out = formats::resultFileName(o.outputDir, fg, o.format);
        const QString key = fileKey(out);
        if (claimed.contains(key)) {
            progress.problem(
                problemLine(fg, QStringLiteral("not written: its result %1 is already that of %2")
                                    .arg(QDir::toNativeSeparators(out),
                                         QDir::toNativeSeparators(claimed.value(key)))));
            outputs << QString();
        } else if (inputs.contains(key)) {
            progress.problem(
                problemLine(fg, QStringLiteral("not written: its result would replace the photo %1")
                                    .arg(QDir::toNativeSeparators(inputs.value(key)))));
            outputs << QString();
        } else {
            claimed.insert(key, fg);
            outputs << out;
        }
    }
    return outputs;
}

// Creates the output folder if needed and checks that files can be made in it, so that a run
// over hundreds of photos does not key them all only to fail at every write.
bool outputFolderUsable(const QString& dir, QString* why) {
    if (!QDir().mkpath(dir)) {
        *why = QStringLiteral("the output folder cannot be created");
        return false;
    }
    QTemporaryFile probe(dir + QStringLiteral("/.mattora-batch-XXXXXX"));
    if (!probe.open()) {
        *why = QStringLiteral("cannot write in the output folder: ") + probe.errorString();
        return false;
    }
    return true;
}

// Bytes one photo in flight holds per pixel at its peak: the decoded photo and its turned,
// keyed copy (4 + 4), then the keyed copy, the background scaled to it and the composite.
constexpr qint64 kBytesPerPixel = 12;
// A photo whose header gives no size is counted as a 24-megapixel one.
constexpr qint64 kUnknownPixels = 24'000'000;

qint64 pixelsOf(QSize size) {
    return size.isValid() ? qint64(size.width()) * size.height() : kUnknownPixels;
}

// Admits photos by their bytes against the budget; a photo that alone needs more than the
// budget is admitted once nothing else is in flight, so it runs alone.
class MemoryGate {
public:
    explicit MemoryGate(qint64 budget) : m_budget(budget) {}

    // False when `stop` was set while waiting.
    bool enter(qint64 bytes, const std::function<bool()>& stop) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_held > 0 && m_held + bytes > m_budget) {
            if (stop())
                return false;
            // A signal handler cannot notify; look at the stop flag now and then.
            m_freed.wait_for(lock, std::chrono::milliseconds(100));
        }
        m_held += bytes;
        return true;
    }
    void leave(qint64 bytes) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_held -= bytes;
        }
        m_freed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_budget;
    qint64 m_held = 0;
};

}  // namespace

qint64 memoryBudget() {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : meminfo.readAll().split('\n')) {
            if (!line.startsWith("MemAvailable:"))
                continue;
            bool ok = false;
            const qint64 kb = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
            if (ok && kb > 0)
                return kb * 1024 / 2;
        }
    }
    return qint64(4) << 30;  // no /proc: assume a modest machine
}

QImage composePhoto(const QString& foreground, const QImage& background, const Options& o,
                    compose::ComposeCache* cache, QString* why, QString* warning,
                    CameraInfo* camera) {
    PhotoLoad load = readPhoto(foreground, o.maxPixels);
    if (camera)
        *camera = load.camera;
    const bool damaged = load.problem == PhotoLoad::Problem::Damaged && !load.image.isNull();
    if (!load.ok() && !(damaged && o.keepDamaged)) {
        *why = QStringLiteral("cannot be read: ") + problemText(load);
        return QImage();
    }
    if (damaged)
        *warning = problemText(load) + QStringLiteral("; written as far as it decodes");
    if (!load.note.isEmpty())
        *warning = warning->isEmpty() ? load.note : *warning + QStringLiteral("; ") + load.note;
    QImage keyed = keying::turnPhoto(load.image, o.rotation);
    load.image = QImage();  // at most one full-size copy of the photo is held
    if (keyed.isNull()) {
        *why = QStringLiteral("cannot be composed: out of memory");
        return QImage();
    }
    if (!keyShot(keyed, o, why, warning))
        return QImage();
    const QSize subject = keyed.size() * (o.compose.fgSize / 100.0);
    QImage composite = compose::createComposite(background, keyed, o.offset.x(), o.offset.y(),
                                                o.transparent, o.compose, cache);
    if (composite.isNull())
        *why = subject.isEmpty() ? QStringLiteral("cannot be composed: the result would be empty")
                                 : QStringLiteral("cannot be composed: out of memory");
    return composite;
}

Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop) {
    QString why;
    if (!outputFolderUsable(o.outputDir, &why)) {
        progress.problem(problemLine(o.outputDir, why));
        for (const QString& fg : o.foregrounds)
            progress.finished(fg, QString(), false);
        return SomeFailed;
    }
    const QStringList outputs = plannedOutputs(o, progress);

    // The background is held for the whole run: its decoded and layered copies come off the
    // budget first.
    qint64 budget = memoryBudget();
    if (!o.transparent) {
        const PhotoLoad header = readPhotoHeader(o.background, o.maxPixels);
        if (header.ok())
            budget -= pixelsOf(header.size) * 8;
    }
    MemoryGate gate(std::max<qint64>(budget, 0));

    // The background is decoded once, while the first foregrounds decode beside it.
    QFuture<QImage> background;
    std::atomic<bool> backgroundFailed{false};
    if (!o.transparent) {
        background = QtConcurrent::run([&o, &progress, &backgroundFailed] {
            const PhotoLoad load = readPhoto(o.background, o.maxPixels);
            const bool damaged =
                load.problem == PhotoLoad::Problem::Damaged && !load.image.isNull();
            if (!load.ok() && !(damaged && o.keepDamaged)) {
                backgroundFailed = true;
                progress.problem(problemLine(
                    o.background, QStringLiteral("cannot be read: ") + problemText(load)));
                return QImage();
            }
            if (damaged)
                progress.problem(
                    problemLine(o.background,
                                problemText(load) + QStringLiteral("; used as far as it decodes")));
            if (!load.note.isEmpty())
                progress.problem(problemLine(o.background, load.note));
            return compose::backgroundLayer(load.image);
        });
    }

    std::atomic<bool> diskFull{false};
    const auto stopping = [&] { return stop || diskFull; };
    std::atomic<int> next{0};
    auto work = [&] {
        compose::ComposeCache cache;  // keeps the scaled background between photos
        for (int i = next++; i < o.foregrounds.size(); i = next++) {
            const QString& fg = o.foregrounds[i];
            if (stopping())
                return;  // photos not begun are neither written nor failed
            if (outputs[i].isEmpty() || backgroundFailed) {
                progress.finished(fg, QString(), false);
                continue;
            }
            const PhotoLoad header = readPhotoHeader(fg, o.maxPixels);
            if (!header.ok()) {
                progress.problem(
                    problemLine(fg, QStringLiteral("cannot be read: ") + problemText(header)));
                progress.finished(fg, QString(), false);
                continue;
            }
            const qint64 bytes =
                qint64(double(pixelsOf(header.size)) *
                       std::max(double(kBytesPerPixel), header.decodeBytesPerPixel + 4));
            if (!gate.enter(bytes, stopping))
                return;
            progress.started(fg);
            QString reason, warning;
            QImage composite;
            CameraInfo camera;
            {
                const QImage bg = o.transparent ? QImage() : background.result();
                if (!o.transparent && bg.isNull()) {
                    gate.leave(bytes);
                    progress.finished(fg, QString(), false);
                    continue;
                }
                composite = composePhoto(fg, bg, o, &cache, &reason, &warning, &camera);
            }
            cache.foreground.clear();  // the next photo's subject is a different one
            bool written = false;
            if (composite.isNull()) {
                progress.problem(problemLine(fg, reason));
            } else {
                if (!warning.isEmpty())
                    progress.problem(problemLine(fg, warning));
                bool full = false;
                written = formats::writeResult(composite, camera, outputs[i], o.format, o.quality,
                                               &reason, &full);
                if (full)
                    diskFull = true;
                if (!written)
                    progress.problem(
                        problemLine(fg, QStringLiteral("could not be written to %1: %2")
                                            .arg(QDir::toNativeSeparators(outputs[i]), reason)));
            }
            composite = QImage();
            gate.leave(bytes);
            progress.finished(fg, outputs[i], written);
        }
    };
    const int workers = qBound(1, o.jobs, int(o.foregrounds.size()));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (!o.transparent)
        background.waitForFinished();

    if (stop)
        return Interrupted;
    if (diskFull)
        return DiskFull;
    return progress.failed() > 0 ? SomeFailed : AllWritten;
}

}  // namespace batch
