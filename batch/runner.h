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
// failure, with the reason in `why`.
QImage composePhoto(const QString& foreground, const QImage& background, const Options& o,
                    compose::ComposeCache* cache, QString* why);

// Exit statuses.
enum Status { AllWritten = 0, SomeFailed = 1, Interrupted = 130 };

// Processes o.foregrounds into o.outputDir (which must be set), up to o.jobs at once. Every
// problem is one line through `progress`. Stops taking new photos once `stop` is set.
Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop);

}  // namespace batch
