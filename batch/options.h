// The batch tool's command line: what to key, how to compose it, where to write.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include "batch/photojob.h"

namespace batch {

// What each photo gets (JobSettings), and what the run is over.
struct Options : JobSettings {
    QString background;
    QString outputDir;  // empty: the window's output folder
    int jobs = 1;
    QStringList foregrounds;
    QString watchDir;        // --watch: key the photos that land here instead of `foregrounds`
    bool recursive = false;  // --recursive: the folders inside watchDir too
    bool verbose = false;    // the keyers' own debug messages reach stderr
};

enum class Request { Run, Help, Version, UsageError };

// Reads `arguments` (program name first). On Request::UsageError `problem` holds one line that
// names what is wrong; `out` is filled only on Request::Run.
Request parseArguments(const QStringList& arguments, Options* out, QString* problem);

// The full option list, as --help prints it.
QString helpText();

}  // namespace batch
