// The one road of a photo through the batch tool, whichever front end hands it over (a run over
// named photos, a watched folder): read, key, compose, write, report.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "compose/composite.h"
#include "formats/result.h"
#include "keying/keyer.h"
#include "photo/photofile.h"

namespace batch {

// How every photo of a run is made into its result.
struct JobSettings {
    keying::KeySettings key;
    int rotation = 0;  // degrees: 0, 90, 180 or 270
    bool transparent = false;
    compose::ComposeSettings compose;
    QPoint offset;  // foreground offset in preview pixels, as a drag in the window gives it
    formats::Format format = formats::Format::Png;
    int quality = 100;  // formats::defaultQuality(format) unless given
    QString plate;      // the empty backdrop that Magic Number 10 keys each shot against, or none
    bool keepDamaged = false;  // write damaged photos as far as they decode, with a warning
    qint64 maxPixels = kDefaultMaxPixels;  // headers claiming more are refused before decoding
};

// Admits photos by their bytes against a budget; a photo that alone needs more than the budget
// is admitted once nothing else is in flight, so it runs alone.
class MemoryGate {
public:
    explicit MemoryGate(qint64 budget) : m_budget(budget) {}
    // False when `stop` turned true while waiting.
    bool enter(qint64 bytes, const std::function<bool()>& stop);
    void leave(qint64 bytes);

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_budget;
    qint64 m_held = 0;
};

// Bytes of memory a run may hold in photos: half of what the system has available, or
// MATTORA_MEMORY_BUDGET_MB megabytes when that is set.
qint64 memoryBudget();

// Bytes one photo of `photo` pixels (as its header gives them) holds at the peak of its stages
// over `backgrounds` background layers, the largest of `background` pixels (empty when
// transparent): decoding and turning, keying with the keyer's own buffers, composing each
// result in turn while the keyed photo and every background's scaled copy are kept.
qint64 jobBytes(QSize photo, QSize background, const JobSettings& s, int backgrounds = 1);

// The background of a run, decoded and laid out for composing; null with `why` on failure.
// A damaged one is used as far as it decodes when s.keepDamaged, with `warning` saying so.
QImage readBackground(const QString& path, const JobSettings& s, QString* why, QString* warning);

// The overlay of a run (a frame laid over every result), decoded; null with `why` on failure.
QImage readOverlay(const QString& path, const JobSettings& s, QString* why);

// One background of a run.
struct BackgroundLayer {
    QString path;
    QImage layer;  // readBackground's layer; null until read
    QSize size;    // as its header gives it, for the memory count
};

// What the photos of a run share.
struct JobShared {
    const JobSettings& settings;
    std::vector<BackgroundLayer> backgrounds;  // empty when transparent
    QImage overlay;                            // laid over every result; null: none
    MemoryGate* gate = nullptr;                // none: no limit
    std::function<bool()> stopping;
    // The largest background and how many there are, for jobBytes.
    QSize largestBackground() const;
};

// One result of a photo: over one background (or the transparent one).
struct OutputResult {
    QString path;
    bool written = false;
    QString problem;          // why it was not written
    bool outputSide = false;  // the write failed; the photo itself is fine
    bool diskFull = false;    // ... for want of space, where every later write fails too
    QSize overlayMismatch;    // the result's size, when the overlay's proportions differ from it
};

struct JobResult {
    enum class Outcome {
        Written,
        Failed,
        NotBegun,  // the run stopped while the photo waited for memory
    };
    Outcome outcome = Outcome::Failed;
    QString problem;  // why it failed, without the file name
    QString warning;  // something to tell about a photo that was written
    // The photo could not be read: Damaged, NotAPhoto, ... (None when it failed later).
    PhotoLoad::Problem readProblem = PhotoLoad::Problem::None;
    bool outputSide = false;  // a write failed; the photo itself is fine
    bool diskFull = false;    // ... for want of space, where every later write fails too
    QString version;          // the photo's version as read (results::photoVersion)
    QString digest;           // and its digest (results::photoDigest)
    // One per output asked for, in that order. Outcome Written: all were written; `problem`
    // is then the first output's problem, or the photo's own when nothing could be made.
    std::vector<OutputResult> outputs;
};

// Reads and keys `photo` once and writes one result per background of `shared` (one result
// when transparent) to `outputs`, in that order, each recording the photo's path and version
// (and, with several, its background). The composites are made and written one after another,
// so one is held at a time. `caches` keeps each background's scaled copy between photos (one
// cache per background; resized as needed). Every failure is the photo's own, out of memory
// included: the run goes on.
JobResult runPhotoJob(const QString& photo, const QStringList& outputs, const JobShared& shared,
                      std::vector<compose::ComposeCache>* caches);

// The line a front end prints about a photo: "mattora-batch: FILE: WHAT".
QString problemLine(const QString& file, const QString& what);

}  // namespace batch
