// A TIFF encoder for results that go to retouching: 8 bits per channel with alpha.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>

#include "core/photometa.h"

namespace formats {

// Encodes `image` into `out` (open for writing and seekable: the first IFD's place is written
// last) as one RGBA image of 8 bits per channel, alpha unassociated, in strips deflated with the
// horizontal predictor (compressed in parallel), with its colour space as an ICC profile and
// `camera`'s description in its tags. False with the reason in `error` on failure.
bool encodeTiff(const QImage& image, const CameraInfo& camera, QIODevice* out, QString* error);

}  // namespace formats
