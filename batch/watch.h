// The hot folder without a screen: keys every photo that lands in a folder, until stopped.
#pragma once

#include <QString>
#include <atomic>
#include <cstdio>

#include "batch/options.h"

namespace batch {

struct WatchTiming {
    // A photo is taken once its writer closed it (Linux) or its size and time have not changed
    // for this long: a camera or a copy may still be writing it before.
    int settleMs = 1000;
    // Watchers miss events (full queues, network folders), so the folder is also listed this
    // often.
    int rescanMs = 2000;
};

// The timing, with the settle time from MATTORA_WATCH_SETTLE_MS when set (for tests).
WatchTiming watchTimingFromEnvironment();

// Keys o.watchDir's photos into o.outputDir (which must be set): those present whose result is
// missing or older than the photo, oldest first, then every photo that arrives, once complete.
// Runs a QCoreApplication event loop until `stopSignal` holds a signal number; the photo in hand
// is finished first. Messages go to `out`, with a status line when `terminal`. Returns the exit
// status: 128 + the signal, or 1/2 when it cannot start.
int watchFolder(const Options& o, std::FILE* out, bool terminal, const std::atomic<int>& stopSignal,
                const WatchTiming& timing);

}  // namespace batch
