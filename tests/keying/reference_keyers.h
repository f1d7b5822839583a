// Deliberately plain keyers: one pixel() and at most one setPixel() per pixel, the colour
// conversions done per pixel exactly as the keying rules read. The engine's fast keyers are
// checked against these, and the keying benchmark uses maskOut10 as its baseline.
#pragma once

#include <QImage>

#include "keying/keyer.h"

namespace reference {

void maskOut10(QImage& img, QRgb key, const keying::KeySettings& s);

// The plain keyer of a Magic Number 1..9, or null.
keying::Keyer keyerFor(int magic);

}  // namespace reference
