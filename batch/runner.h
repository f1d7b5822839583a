// A run over named photos: every foreground keyed, composed and written with the same settings.
#pragma once

#include <QString>
#include <atomic>

#include "batch/options.h"
#include "batch/progress.h"

namespace batch {

// How a run ended (main turns it into the exit status).
enum Status { AllWritten, SomeFailed, DiskFull, Interrupted };

// Processes o.foregrounds into o.outputDir (which must be set), up to o.jobs at once, and no
// more at once than their memory fits in half of what is available. Every problem is one line
// through `progress`. Stops taking new photos once `stop` is set or the disk is full.
Status runBatch(const Options& o, Progress& progress, const std::atomic<bool>& stop);

// How many results each photo of the run gives: one per background, or one.
int resultsPerPhoto(const Options& o);

}  // namespace batch
