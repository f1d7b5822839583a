// Results in the format the photographer asks for: PNG as the window saves it, JPEG for print
// and sharing, TIFF for retouching. Each carries the foreground's colour space and the camera's
// description, and appears whole or not at all.
#pragma once

#include <QImage>
#include <QString>

#include "core/photometa.h"

namespace formats {

enum class Format { Png, Jpeg, Tiff };

// "png", "jpeg", "tiff": the names the batch tool takes.
QString formatName(Format f);
bool formatNamed(const QString& name, Format* out);

// The suffix of a result's file name, without the dot: "png", "jpg", "tif".
QString suffix(Format f);

// The quality a format is written at unless told: PNG 100 (stored, as Save Image writes it),
// JPEG 92.
int defaultQuality(Format f);

// Whether the format keeps transparency.
bool keepsAlpha(Format f);

// The file a result of `foreground` gets in `folder`: the name png::compositeFileName gives,
// with the format's suffix.
QString resultFileName(const QString& folder, const QString& foreground, Format f);

// Writes `image` at `path` in format `f` at `quality` (PNG: the image writer's 0..100; JPEG:
// 1..100; TIFF: ignored, always lossless). Whole or not at all, as png::writeWhole; `diskFull`
// tells whether it failed for want of space.
bool writeResult(const QImage& image, const CameraInfo& camera, const QString& path, Format f,
                 int quality, QString* error, bool* diskFull = nullptr);

}  // namespace formats
