// A JPEG encoder for results that go to print and sharing.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>

#include "core/photometa.h"

namespace formats {

// The lowest quality written with full-resolution colour (4:4:4); below it colour is halved
// both ways (4:2:0), as cameras do.
constexpr int kFullChromaQuality = 90;

// Encodes `image` into `out` at `quality` 1..100 (libjpeg's scale), baseline, with `camera`'s
// description as EXIF and the image's colour space as an ICC profile. Alpha is dropped: a
// partly transparent pixel shows as it lies over black. False with the reason in `error`.
bool encodeJpeg(const QImage& image, const CameraInfo& camera, int quality, QIODevice* out,
                QString* error);

}  // namespace formats
