// Runs a batch: every foreground keyed, composed and written with the same settings.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>

#include "batch/options.h"
#include "batch/progress.h"

namespace batch {

// One photo through the window's pipeline: decode, turn, key at the corner colour, compose
// over `background` (already a compose::backgroundLayer; ignored when transparent). Null on
// failure, with the reason in `why`. A damaged photo fails unless o.keepDamaged; then it is
// composed as far as it decodes and `warning` says so.
// `camera` (when given) receives the foreground's description for the result.
QImage composePhoto(const QString& foreground, const QImage& background, const Options& o,
                    compose::ComposeCache* cache, QString* why, QString* warning,
                    CameraInfo* camera = nullptr);

// How a run ended (main turns it into the exit status).
enum Status { AllWritten, SomeFailed, DiskFull, Interrupted };

// Processes o.foregrounds into o.outputDir (which must be set), up to o.jobs at once, and no
// more at once than their pixels fit in half the memory available. Every problem is one line
// through `progress`. Stops taking new photos once `stop` is set or the disk is full.
Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop);

// Bytes of memory the run may hold in photos: half of what the system has available.
qint64 memoryBudget();

}  // namespace batch
