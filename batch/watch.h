// The hot folder without a screen: keys every photo that lands in a folder, until stopped.
#pragma once

#include <QString>
#include <atomic>
#include <cstdio>

#include "batch/options.h"

namespace batch {

struct WatchTiming {
    // A photo is taken once its writer closed it (Linux) or once it has not changed for this
    // long: a camera or a copy may still be writing it before. A photo that reads as damaged
    // right after its close is tried once more after this long before it is reported.
    int settleMs = 1000;
    // How often a missing watched folder, or a full or missing output folder, is looked at.
    int retryMs = 2000;
};

// The timing, with the settle time from MATTORA_WATCH_SETTLE_MS when set (for tests).
WatchTiming watchTimingFromEnvironment();

// Keys o.watchDir's photos (and with o.recursive those of its folders) into o.outputDir (which
// must be set): those present and not done yet, oldest first, then every photo that arrives
// or changes, once complete, up to o.jobs at once. Runs a QCoreApplication event loop until
// `stopSignal` holds a signal number; the photos in hand are finished first. Messages go to
// `out`, with a status line when `terminal`. Returns the exit status: 128 + the signal, or 1/2
// when it cannot start.
int watchFolder(const Options& o, std::FILE* out, bool terminal, const std::atomic<int>& stopSignal,
                const WatchTiming& timing);

}  // namespace batch
