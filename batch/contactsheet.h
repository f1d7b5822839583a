// The keyers' contact sheet: one photo keyed by each Magic Number at its default tuning, laid
// out in a labelled grid, so the photographer sees at a glance which keyer suits a shoot.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <atomic>

#include "batch/options.h"
#include "batch/progress.h"
#include "batch/runner.h"

namespace batch {

// Magic Numbers 1..kSheetKeyers, in a grid of kSheetColumns.
inline constexpr int kSheetKeyers = 10;
inline constexpr int kSheetColumns = 5;
inline constexpr int kSheetWidth = 2000;

// Where the picture of Magic Number `magic` lies on the sheet of composites of `canvas` pixels:
// the composite fitted into its cell, proportions kept, centred; its label lies below.
QRect sheetPicture(int magic, QSize canvas);
// The label of Magic Number `magic` ("Magic Number 7") below its picture.
QRect sheetLabel(int magic, QSize canvas);
// The size of the whole sheet.
QSize sheetSize(QSize canvas);

// A checkerboard of light greys of `size`, the background of a sheet without one.
QImage checkerboardLayer(QSize size);

// The sheet of the turned photo over `background` (a layer as readBackground gives it), with
// the run's composing settings and backdrop colour; Magic Number k keyed with the tuning of a
// fresh window. Null with `why` when nothing could be composed.
QImage contactSheet(const QImage& turned, const QImage& background, const JobSettings& s,
                    QString* why);

// Writes OUTPUT-DIR/<name>-keyers.png for each of o.foregrounds, through the safe writer.
Status runContactSheets(const Options& o, Progress& progress, const std::atomic<bool>& stop);

}  // namespace batch
