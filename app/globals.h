// Process-wide state shared by the window, the preview and the keying frame.
// Plain globals on purpose: every reader takes the current value when it runs.
#pragma once

#include <QFile>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include "mattora_version.h"

// Appended after a blank to the main window's title.
inline const QString VERSION = QStringLiteral("pro " MATTORA_VERSION);

namespace MyGlobal {
extern QString appDir;          // folder holding the sample photos and Bkg
extern QString outputDir;       // where saved composites go
extern QFile log;               // diagnostic log, opened at start-up
extern QString CurSelection;    // path of the current foreground photo
extern QString CurSelectionBk;  // path of the current background photo
extern QImage PrevImg;          // rotated (and then keyed) foreground, full resolution
extern QImage ComposImg;        // last full-resolution composite
extern int xshiftFG;            // committed foreground offset, preview pixels
extern int yshiftFG;
extern bool mouseMove;        // a drag is in progress in the preview
extern QPoint xyClicked;      // preview point last handed to the keying frame
extern const QSize PrevSize;  // preview frame: 415 x 345
extern bool transparentbkg;   // compose over transparency
extern QString HotFolder_FG;  // watched hot folder
extern QString LasHotFile;    // file last taken from the hot folder
extern QString overlayFile;   // picture laid over the composite (a frame), or empty
}  // namespace MyGlobal

namespace AdvSettings {
extern int backgroundclr;  // backdrop to key out: 0 green, 1 blue
extern int bkpos;          // background alignment: 1 centred, 0 top-left
extern int bgScale;        // 1 stretch background to the foreground, 0 own size
extern int fgSize;         // foreground size in percent (5..200)
extern int canvas;         // canvas size: 0 foreground, 1 background
extern bool bgFill;        // fill the canvas without stretching, whatever bgScale says
}  // namespace AdvSettings
