// Writing a composite as a PNG file.
#pragma once

#include <QImage>
#include <QString>

namespace png {

// Writes `image` as PNG (8 bits per channel with alpha) at the image writer's `quality`.
// The file appears whole or not at all: an earlier file of that name stays in place until the
// new one is complete. On failure returns false and says why in `error`; `diskFull` (when
// given) tells whether it failed for want of space, where every later write would fail too.
bool writePng(const QImage& image, const QString& path, int quality, QString* error,
              bool* diskFull = nullptr);

}  // namespace png
