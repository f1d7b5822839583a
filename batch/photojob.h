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
    int quality = 100;         // formats::defaultQuality(format) unless given
    QString plate;  // the empty backdrop that Magic Number 10 keys each shot against, or none
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
// over a background layer of `background` pixels (empty when transparent): decoding and
// turning, keying with the keyer's own buffers, composing.
qint64 jobBytes(QSize photo, QSize background, const JobSettings& s);

// The background of a run, decoded and laid out for composing; null with `why` on failure.
// A damaged one is used as far as it decodes when s.keepDamaged, with `warning` saying so.
QImage readBackground(const QString& path, const JobSettings& s, QString* why, QString* warning);

// What the photos of a run share.
struct JobShared {
    const JobSettings& settings;
    QImage background;  // readBackground's layer; null when transparent
    QSize backgroundSize;
    MemoryGate* gate = nullptr;  // none: no limit
    std::function<bool()> stopping;
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
    bool outputSide = false;  // the write failed; the photo itself is fine
    bool diskFull = false;    // ... for want of space, where every later write fails too
    QString version;          // the photo's version as read (results::photoVersion)
    QString digest;           // and its digest (results::photoDigest)
};

// Reads, keys and composes `photo` and writes its result to `output`, which records the photo's
// path and version. Every failure is the photo's own, out of memory included: the run goes on.
JobResult runPhotoJob(const QString& photo, const QString& output, const JobShared& shared,
                      compose::ComposeCache* cache);

// The line a front end prints about a photo: "mattora-batch: FILE: WHAT".
QString problemLine(const QString& file, const QString& what);

}  // namespace batch
