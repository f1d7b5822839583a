// The overlay of a composite: a picture with transparency (a frame, names and a date, a logo)
// laid over the whole result after the subject. It is scaled to the canvas with its proportions
// kept and centred, so a frame made for 3:2 prints stays round on a 3:2 result and leaves bands
// uncovered on a 2:3 one rather than being squashed.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

namespace compose {

// Where an overlay of `overlay` pixels lies on a canvas of `canvas` pixels: the largest size of
// its proportions that fits, centred (offsets truncating toward zero). Empty when either is.
QRect overlayRect(QSize overlay, QSize canvas);

// True when the overlay, fitted, leaves part of the canvas uncovered: its proportions differ
// from the canvas's by more than the one pixel that rounding gives.
bool overlayProportionsDiffer(QSize overlay, QSize canvas);

// The overlay picture as composites draw it: its decode in Format_ARGB32, converted once.
QImage overlayLayer(const QImage& decoded);

}  // namespace compose
