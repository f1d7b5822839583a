// The batch tool's command line: what to key, how to compose it, where to write.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include "batch/photojob.h"

namespace batch {

// What each photo gets (JobSettings), and what the run is over.
struct Options : JobSettings {
    QStringList backgrounds;    // --background (repeatable) or --backgrounds DIR, in that order
    QString overlay;            // --overlay: laid over every result; empty: none
    bool contactSheet = false;  // --contact-sheet: one sheet of the ten keyers per photo
    QString outputDir;          // empty: the window's output folder
    int jobs = 1;
    QStringList foregrounds;
    QString watchDir;        // --watch: key the photos that land here instead of `foregrounds`
    bool recursive = false;  // --recursive: the folders inside watchDir too
    bool verbose = false;    // the keyers' own debug messages reach stderr
};

enum class Request { Run, Help, Version, UsageError };

// Reads `arguments` (program name first), and the settings file that --settings names: its keys
// are the long option names, and what the command line gives wins over it. On
// Request::UsageError `problem` holds one line that names what is wrong; `out` is filled only on
// Request::Run.
Request parseArguments(const QStringList& arguments, Options* out, QString* problem);

// The full option list, as --help prints it.
QString helpText();

}  // namespace batch
