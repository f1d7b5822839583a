// The keying frame shared by the window and the batch tool: turn the photo as the rotation
// choice says, then key it with the colour found in its corner.
#pragma once

#include <QImage>

#include "keying/keyer.h"

namespace keying {

// The photo turned clockwise by `degrees` (0, 90, 180, 270) about its centre, nearest-pixel.
QImage turnPhoto(const QImage& photo, int degrees);

// Keys a turned photo in place with the colour at its sampling point (see keyColourOf).
KeyNotes keyTurnedPhoto(QImage& turned, const KeySettings& s);

}  // namespace keying
