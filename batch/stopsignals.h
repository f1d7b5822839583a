// Ctrl-C and SIGTERM for the batch tool: the first asks the run to stop once the photos in hand
// are done; a second ends the program at once, but first removes the files it was writing, so
// that no temporary file is left beside the results.
#pragma once

#include <QString>
#include <atomic>

namespace batch {

// Call first in main, before any thread starts: the signals are taken by a thread of their
// own. `stop` is set and `signal` holds the signal's number from the first one on. Files this
// process holds open for writing below `outputDir` are removed at the second.
void handleStopSignals(std::atomic<bool>* stop, std::atomic<int>* signal);
void setOutputFolder(const QString& outputDir);

// The files below `folder` that this process holds open for writing.
QStringList filesBeingWritten(const QString& folder);

}  // namespace batch
