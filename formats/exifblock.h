// The EXIF a result carries: the camera's make and model and the times of the shot, and nothing
// else of the original's (no orientation, as results are upright; no thumbnail), with the
// fields that describe the result itself.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include "core/photometa.h"
#include "formats/tiffifd.h"

namespace formats {

// What the EXIF says of the result itself.
struct ExifImage {
    QSize size;        // invalid in a TIFF file, whose own tags give it
    bool srgb = true;  // else "uncalibrated": the embedded profile says what it is
    int dpi = 72;
    bool jpeg = false;  // a JPEG's EXIF also tells its component order
};

// Whole dots per inch of a resolution in dots per metre; 72 for none.
int dotsPerInch(int dotsPerMetre);

// What the EXIF says of `image`; `size` left out when `withSize` is false.
ExifImage exifImageOf(const QImage& image, bool jpeg, bool withSize = true);

// A TIFF structure ("II", 42, IFD0 with make, model, time and resolution, an EXIF IFD with the
// times of the shot and the image's description), as JPEG's APP1 holds after "Exif\0\0" and
// PNG's eXIf holds. Empty for a camera that said nothing.
QByteArray exifBlock(const CameraInfo& camera, const ExifImage& image);

// IFD0's entries of the camera's description, for a TIFF file's own first IFD.
QList<TiffEntry> cameraEntries(const CameraInfo& camera);

// The EXIF IFD placed at `at`; empty for a camera that said nothing.
QByteArray exifIfd(const CameraInfo& camera, const ExifImage& image, quint32 at);

}  // namespace formats
