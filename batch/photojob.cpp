#include "batch/photojob.h"

#include "batch/plate.h"

#include <QDir>
#include <QFile>
#include <QUnhandledException>
#include <algorithm>
#include <chrono>
#include <new>

#include "compose/overlay.h"
#include "keying/photoframe.h"
#include "png/pngfile.h"
#include "results/photonames.h"

namespace batch {

namespace {

// A photo whose header gives no size is counted as a 24-megapixel one.
constexpr qint64 kUnknownPixels = 24'000'000;

qint64 pixelsOf(QSize size) {
    return size.isValid() ? qint64(size.width()) * size.height() : kUnknownPixels;
}

bool outOfMemory(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The photo read, turned and keyed; null with the reason in `out` on failure.
QImage keyPhoto(const QString& photo, const JobSettings& s, JobResult* out, CameraInfo* camera) {
    PhotoLoad load = readPhoto(photo, s.maxPixels);
    const bool damaged = load.problem == PhotoLoad::Problem::Damaged && !load.image.isNull();
    if (!load.ok() && !(damaged && s.keepDamaged)) {
        out->readProblem = load.problem;
        out->problem = QStringLiteral("cannot be read: ") + problemText(load);
        return QImage();
    }
    if (damaged)
        out->warning = problemText(load) + QStringLiteral("; written as far as it decodes");
    const auto warn = [out](const QString& what) {
        if (!what.isEmpty())
            out->warning =
                out->warning.isEmpty() ? what : out->warning + QStringLiteral("; ") + what;
    };
    warn(load.note);  // a colour profile that could not be used, say
    *camera = load.camera;
    if (load.image.isNull()) {  // a decoder that could not have its pixels
        out->problem = QStringLiteral("cannot be read: out of memory");
        return QImage();
    }
    QImage keyed = keying::turnPhoto(load.image, s.rotation);
    load.image = QImage();  // at most one full-size copy of the photo is held
    if (keyed.isNull()) {
        out->problem = QStringLiteral("cannot be composed: out of memory");
        return QImage();
    }
    QString why;
    if (!keyShot(keyed, s, &why, &out->warning)) {  // against the plate, when there is one
        out->problem = why;
        return QImage();
    }
    if (keyed.isNull()) {  // the keyer's conversion found no memory
        out->problem = QStringLiteral("cannot be composed: out of memory");
        return QImage();
    }
    return keyed;
}

// One result of the keyed photo, composed and written to `o->path`. For the `last` result the
// keyed copy is not needed after this: the composite may take its buffer.
void writeOutput(const QString& photo, QImage& keyed, bool last, const QImage& background,
                 const BackgroundLayer* over, const JobShared& shared, const CameraInfo& camera,
                 const JobResult& job, compose::ComposeCache* cache, OutputResult* o) {
    const JobSettings& s = shared.settings;
    const QSize subject = keyed.size() * (s.compose.fgSize / 100.0);
    QImage composite =
        last && shared.overlay.isNull()
            ? compose::createCompositeInPlace(background, std::move(keyed), s.offset.x(),
                                              s.offset.y(), s.transparent, s.compose, cache)
            : compose::createComposite(background, keyed, s.offset.x(), s.offset.y(), s.transparent,
                                       s.compose, cache, shared.overlay);
    if (composite.isNull()) {
        o->problem = subject.isEmpty()
                         ? QStringLiteral("cannot be composed: the result would be empty")
                         : QStringLiteral("cannot be composed: out of memory");
        return;
    }
    if (!shared.overlay.isNull() &&
        compose::overlayProportionsDiffer(shared.overlay.size(), composite.size()))
        o->overlayMismatch = composite.size();
    composite.setText(QString::fromLatin1(results::kSourceKey), results::sourceName(photo));
    composite.setText(QString::fromLatin1(results::kVersionKey), job.version);
    composite.setText(QString::fromLatin1(results::kDigestKey), job.digest);
    if (over && shared.backgrounds.size() > 1)
        composite.setText(QString::fromLatin1(results::kBackgroundKey),
                          results::sourceName(over->path));
    QString why;
    bool full = false;
    if (formats::writeResult(composite, camera, o->path, s.format, s.quality, &why, &full)) {
        o->written = true;
    } else {
        o->outputSide = true;
        o->diskFull = full;
        o->problem = QStringLiteral("could not be written to %1: %2")
                         .arg(QDir::toNativeSeparators(o->path), why);
    }
}

}  // namespace

bool MemoryGate::enter(qint64 bytes, const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_held > 0 && m_held + bytes > m_budget) {
        if (stop && stop())
            return false;
        // A signal handler cannot notify; look at the stop flag now and then.
        m_freed.wait_for(lock, std::chrono::milliseconds(100));
    }
    m_held += bytes;
    return true;
}

void MemoryGate::leave(qint64 bytes) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held -= bytes;
    }
    m_freed.notify_all();
}

qint64 memoryBudget() {
    bool set = false;
    const qint64 mb = qEnvironmentVariableIntValue("MATTORA_MEMORY_BUDGET_MB", &set);
    if (set && mb > 0)
        return mb << 20;
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

qint64 jobBytes(QSize photo, QSize background, const JobSettings& s, int backgrounds) {
    const qint64 px = pixelsOf(photo);
    // Decoding and turning: the decoded photo and its turned copy.
    const qint64 turning = 8 * px;
    // Keying: the turned copy, keyed in place, and the keyer's own buffers.
    const QSize turned = s.rotation % 180 ? photo.transposed() : photo;
    const qint64 keying = 4 * px + keying::keyerWorkingBytes(s.key.magic, turned);
    // Composing: the keyed copy, each background scaled to the canvas (kept for the next
    // photo) and the one composite in hand. The canvas is the foreground's or the background's
    // size, whichever the settings choose.
    const qint64 canvas =
        s.transparent ? px : std::max(px, background.isValid() ? pixelsOf(background) : px);
    const qint64 layers = s.transparent ? 0 : std::max(1, backgrounds);
    const qint64 composing = 4 * px + 4 * canvas * layers + 4 * canvas;
    return std::max({turning, keying, composing});
}

QImage readBackground(const QString& path, const JobSettings& s, QString* why, QString* warning) {
    PhotoLoad load = readPhoto(path, s.maxPixels);
    const bool damaged = load.problem == PhotoLoad::Problem::Damaged && !load.image.isNull();
    if (!load.ok() && !(damaged && s.keepDamaged)) {
        *why = QStringLiteral("cannot be read: ") + problemText(load);
        return QImage();
    }
    if (damaged)
        *warning = problemText(load) + QStringLiteral("; used as far as it decodes");
    if (!load.note.isEmpty())
        *warning = warning->isEmpty() ? load.note : *warning + QStringLiteral("; ") + load.note;
    QImage layer = load.image.isNull() ? QImage() : compose::backgroundLayer(load.image);
    if (layer.isNull())
        *why = QStringLiteral("cannot be read: out of memory");
    return layer;
}

QImage readOverlay(const QString& path, const JobSettings& s, QString* why) {
    const PhotoLoad load = readPhoto(path, s.maxPixels);
    if (!load.ok()) {
        *why = QStringLiteral("cannot be read: ") + problemText(load);
        return QImage();
    }
    QImage layer = compose::overlayLayer(load.image);
    if (layer.isNull())
        *why = QStringLiteral("cannot be read: out of memory");
    return layer;
}

QSize JobShared::largestBackground() const {
    QSize largest;
    for (const BackgroundLayer& b : backgrounds)
        if (b.size.isValid() &&
            (!largest.isValid() ||
             qint64(b.size.width()) * b.size.height() > qint64(largest.width()) * largest.height()))
            largest = b.size;
    return largest;
}

JobResult runPhotoJob(const QString& photo, const QStringList& outputs, const JobShared& shared,
                      std::vector<compose::ComposeCache>* caches) {
    JobResult out;
    const JobSettings& s = shared.settings;
    // Taken before the file is first opened: a photo replaced while it is keyed is then seen as
    // a new version.
    out.version = results::photoVersion(photo);
    out.digest = results::photoDigest(photo);
    for (const QString& path : outputs) {
        OutputResult o;
        o.path = path;
        out.outputs.push_back(o);
    }
    const auto failAll = [&out] {
        for (OutputResult& o : out.outputs)
            if (!o.written && o.problem.isEmpty())
                o.problem = out.problem;
    };
    const PhotoLoad header = readPhotoHeader(photo, s.maxPixels);
    if (!header.ok()) {
        out.readProblem = header.problem;
        out.problem = QStringLiteral("cannot be read: ") + problemText(header);
        failAll();
        return out;
    }
    // The decoder's own peak (a progressive JPEG's coefficients, a float TIFF) may pass the
    // stages' count.
    const qint64 bytes = std::max(
        jobBytes(header.size, shared.largestBackground(), s, int(shared.backgrounds.size())),
        qint64(double(pixelsOf(header.size)) * (header.decodeBytesPerPixel + 4)));
    if (shared.gate && !shared.gate->enter(bytes, shared.stopping)) {
        out.outcome = JobResult::Outcome::NotBegun;
        return out;
    }
    const size_t layers = s.transparent ? 1 : shared.backgrounds.size();
    if (caches && caches->size() < layers)
        caches->resize(layers);
    try {
        CameraInfo camera;
        QImage keyed = keyPhoto(photo, s, &out, &camera);
        size_t lastWanted = 0;
        for (size_t i = 0; i < out.outputs.size() && i < layers; ++i)
            if (!out.outputs[i].path.isEmpty())
                lastWanted = i;
        for (size_t i = 0; !keyed.isNull() && i < out.outputs.size() && i < layers; ++i) {
            if (out.outputs[i].path.isEmpty())
                continue;  // not wanted: its background could not be read, say
            const BackgroundLayer* over = s.transparent ? nullptr : &shared.backgrounds[i];
            writeOutput(photo, keyed, i == lastWanted, over ? over->layer : QImage(), over, shared,
                        camera, out, caches ? &(*caches)[i] : nullptr, &out.outputs[i]);
            const OutputResult& o = out.outputs[i];
            if (o.outputSide) {
                out.outputSide = true;
                out.diskFull = out.diskFull || o.diskFull;
            }
            if (!o.written && out.problem.isEmpty())
                out.problem = o.problem;
            if (o.diskFull)
                break;  // every later write fails too
        }
    } catch (const std::bad_alloc&) {
        out.problem = QStringLiteral("cannot be composed: out of memory");
    } catch (const QUnhandledException& e) {  // from a band on a pool thread
        if (!outOfMemory(e.exception()))
            throw;
        out.problem = QStringLiteral("cannot be composed: out of memory");
    }
    failAll();
    out.outcome =
        !out.outputs.empty() && std::all_of(out.outputs.begin(), out.outputs.end(),
                                            [](const OutputResult& o) { return o.written; })
            ? JobResult::Outcome::Written
            : JobResult::Outcome::Failed;
    if (caches)
        for (compose::ComposeCache& c : *caches)
            c.forgetForeground();  // the next photo's subject is a different one
    if (shared.gate)
        shared.gate->leave(bytes);
    return out;
}

QString problemLine(const QString& file, const QString& what) {
    return QStringLiteral("mattora-batch: %1: %2").arg(QDir::toNativeSeparators(file), what);
}

}  // namespace batch
