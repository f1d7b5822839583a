// The batch tool's command line: what to key, how to compose it, where to write.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include "compose/composite.h"
#include "core/photofile.h"
#include "formats/result.h"
#include "keying/keyer.h"

namespace batch {

struct Options {
    keying::KeySettings key;
    int rotation = 0;  // degrees: 0, 90, 180 or 270
    QString background;
    bool transparent = false;
    compose::ComposeSettings compose;
    QPoint offset;      // foreground offset in preview pixels, as a drag in the window gives it
    QString outputDir;  // empty: the window's output folder
    formats::Format format = formats::Format::Png;
    int quality = 100;  // formats::defaultQuality(format) unless given
    int jobs = 1;
    bool keepDamaged = false;  // write damaged photos as far as they decode, with a warning
    qint64 maxPixels = kDefaultMaxPixels;  // headers claiming more are refused before decoding
    QStringList foregrounds;
    QString watchDir;  // --watch: key the photos that land here instead of `foregrounds`
    QString plate;     // --plate: the empty backdrop, that Magic Number 10 keys against
};

enum class Request { Run, Help, Version, UsageError };

// Reads `arguments` (program name first). On Request::UsageError `problem` holds one line that
// names what is wrong; `out` is filled only on Request::Run.
Request parseArguments(const QStringList& arguments, Options* out, QString* problem);

// The full option list, as --help prints it.
QString helpText();

}  // namespace batch
