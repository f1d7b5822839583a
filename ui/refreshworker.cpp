#include "ui/refreshworker.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QImageReader>
#include <QtConcurrent/QtConcurrentRun>

#include "compose/overlay.h"
#include "keying/photoframe.h"
#include "photo/photofile.h"
#include "ui/plate.h"

namespace {

std::atomic<int> g_keyingRuns{0};

bool sameKeying(const keying::KeySettings& a, const keying::KeySettings& b) {
    return a.magic == b.magic && a.fine == b.fine && a.coarse == b.coarse && a.spill == b.spill &&
           a.correctSpill == b.correctSpill && a.backdrop == b.backdrop &&
           a.keepShadows == b.keepShadows;
}

}  // namespace

// What a worker keeps between refreshes. The keyed foreground is kept for its photo (the
// decoded file, whose cache key changes whenever the file does) and keying settings, so that a
// change of background or composing settings composes again without keying again.
struct RefreshWorker::Caches {
    PhotoCache photoFile;
    QString photoPath;  // the photo last asked of photoFile
    PhotoCache backgroundFile;
    qint64 keyedFrom = 0;  // cache key of the decode that `keyed` was made from
    int keyedRotation = 0;
    keying::KeySettings keyedWith;
    QString keyedPlate;  // the backdrop plate `keyed` was keyed against
    PlateChoice plate;   // that plate, read and prepared
    QImage keyed;
    QString keyedNote;     // the keyer's note on `keyed`
    qint64 layerFrom = 0;  // cache key of the background decode that `layer` was made from
    QImage layer;
    compose::ComposeCache scaled;
    PhotoCache overlayFile;
    qint64 overlayFrom = 0;  // cache key of the overlay decode `overlay` was made from
    QImage overlay;

    // The overlay layer of `path`; null, with `why`, when it cannot be read.
    const QImage& overlayLayer(const QString& path, QString* why) {
        if (path.isEmpty()) {
            overlay = QImage();
            overlayFrom = 0;
            return overlay;
        }
        const QImage decoded = overlayFile.load(path);
        if (decoded.isNull()) {
            overlay = QImage();
            const PhotoLoad header = readPhotoHeader(path);
            *why = header.ok() ? QStringLiteral("it cannot be read") : problemText(header);
        } else if (decoded.cacheKey() != overlayFrom || overlay.isNull()) {
            overlay = compose::overlayLayer(decoded);
        }
        overlayFrom = decoded.isNull() ? 0 : decoded.cacheKey();
        return overlay;
    }

    // Whether the keyed foreground of `r` is at hand.
    bool keyedFor(const RefreshRequest& r, const QImage& decoded) const {
        return keyedFrom != 0 && decoded.cacheKey() == keyedFrom && keyedRotation == r.rotation &&
               sameKeying(keyedWith, r.key) && keyedPlate == r.plate;
    }

    const QImage& keyedPhoto(const RefreshRequest& r) {
        const QImage decoded = photoFile.load(r.photo);
        photoPath = r.photo;
        if (keyedFor(r, decoded))
            return keyed;
        keyed = keying::turnPhoto(decoded, r.rotation);
        keyedNote.clear();
        if (!keyed.isNull()) {
            ++g_keyingRuns;
            if (!r.plate.isEmpty() && r.key.magic == 10) {
                plate.setPath(r.plate);
                plate.setKeepShadows(r.key.keepShadows);
                keying::KeyNotes notes;
                const QString said = plate.key(keyed, r.key, r.rotation, &notes);
                const QString more = keying::keyNotesText(notes);
                keyedNote = said.isEmpty() || more.isEmpty() ? said + more : said + "\n" + more;
            } else {
                keyedNote = keying::keyNotesText(keying::keyTurnedPhoto(keyed, r.key));
            }
        }
        keyedFrom = decoded.isNull() ? 0 : decoded.cacheKey();
        keyedRotation = r.rotation;
        keyedWith = r.key;
        keyedPlate = r.plate;
        return keyed;
    }

    const QImage& backgroundLayer(const QString& path) {
        const QImage decoded = backgroundFile.load(path);
        if (decoded.isNull())
            layer = QImage();
        else if (decoded.cacheKey() != layerFrom || layer.isNull())
            layer = compose::backgroundLayer(decoded);
        layerFrom = decoded.isNull() ? 0 : decoded.cacheKey();
        return layer;
    }

    // The preview of `r` made from its photo decoded at 1/2, 1/4 or 1/8 of its size (the
    // least that still covers the preview frame) with the background taken down alike; null
    // when the photo is not a JPEG too large for that, or its keyed image is at hand.
    QImage quickPreview(const RefreshRequest& r) {
        if (r.photo == photoPath)
            return QImage();  // decoded already, as a rule: the full result is quick enough
        QImageReader header(r.photo);
        if (!QFileInfo(r.photo).isFile() || header.format() != "jpeg")
            return QImage();
        const PhotoLoad upright = readPhotoHeader(r.photo);
        const QSize frame = r.compose.previewSize;
        int shift = 3;
        while (shift > 0 && ((upright.size.width() >> shift) < frame.width() ||
                             (upright.size.height() >> shift) < frame.height()))
            --shift;
        if (!upright.ok() || shift == 0)
            return QImage();
        const QSize reduced(upright.size.width() >> shift, upright.size.height() >> shift);
        QImage small = keying::turnPhoto(readThumbnail(r.photo, reduced).image, r.rotation);
        keying::keyTurnedPhoto(small, r.key);
        const QImage& full = backgroundLayer(r.background);
        if (full.isNull() && !r.transparent)
            return QImage();
        const QImage bg = full.isNull()
                              ? QImage()
                              : full.scaled(full.width() >> shift, full.height() >> shift,
                                            Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QString ignored;
        const QImage& over = overlayLayer(r.overlay, &ignored);
        return compose::fitPreview(
            compose::createComposite(bg, small, r.offset.x(), r.offset.y(), r.transparent,
                                     r.compose, nullptr, over),
            frame);
    }
};

RefreshWorker::RefreshWorker(QObject* parent) : QObject(parent), m_caches(new Caches) {
    m_pool.setMaxThreadCount(1);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &RefreshWorker::finished);
}

RefreshWorker::~RefreshWorker() {
    m_latest = ~quint64(0);  // the refresh in hand skips its remaining steps
    m_pool.waitForDone();
}

int RefreshWorker::keyingRuns() {
    return g_keyingRuns;
}

quint64 RefreshWorker::request(const RefreshRequest& r) {
    const quint64 serial = ++m_latest;
    if (m_running) {
        m_waiting = r;
        m_hasWaiting = true;
    } else {
        start(r, serial);
    }
    return serial;
}

void RefreshWorker::start(const RefreshRequest& r, quint64 serial) {
    if (!m_running) {
        m_running = true;
        emit busyChanged(true);
    }
    Caches* caches = m_caches.get();
    const std::atomic<quint64>* latest = &m_latest;
    m_watcher.setFuture(QtConcurrent::run(&m_pool, [this, r, serial, caches, latest] {
        RefreshResult out;
        out.serial = serial;
        const QImage quick = caches->quickPreview(r);
        if (!quick.isNull())
            offerPreview(quick, serial);
        // Between steps a superseded refresh stops: its result would be dropped anyway.
        out.keyed = caches->keyedPhoto(r);
        out.photo = r.photo;
        out.camera = caches->photoFile.camera();
        out.keyNote = caches->keyedNote;
        if (*latest != serial)
            return out;
        out.background = caches->backgroundLayer(r.background);
        if (*latest != serial || (out.background.isNull() && !r.transparent))
            return out;
        out.overlay = caches->overlayLayer(r.overlay, &out.overlayProblem);
        out.composite =
            compose::createComposite(out.background, out.keyed, r.offset.x(), r.offset.y(),
                                     r.transparent, r.compose, &caches->scaled, out.overlay);
        out.layers = caches->scaled;
        if (*latest != serial)
            return out;
        out.preview = compose::fitPreview(out.composite, r.compose.previewSize);
        return out;
    }));
}

void RefreshWorker::offerPreview(const QImage& preview, quint64 serial) {
    // From the worker thread: shown on the GUI thread, unless a newer request came meanwhile
    // or the full result is already there.
    QMetaObject::invokeMethod(this, [this, preview, serial] {
        if (m_running && serial == m_latest)
            emit previewReady(preview);
    });
}

void RefreshWorker::finished() {
    const RefreshResult done = m_watcher.result();
    if (m_hasWaiting) {
        m_hasWaiting = false;
        start(m_waiting, m_latest);
        return;
    }
    m_running = false;
    if (done.serial == m_latest)
        emit ready(done);
    emit busyChanged(false);
}

void RefreshWorker::waitForNewest() {
    if (!m_running)
        return;
    QEventLoop loop;
    connect(this, &RefreshWorker::busyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
