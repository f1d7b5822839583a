// Writing a composite as a PNG file.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>
#include <functional>

namespace png {

// The file a composite of `foreground` gets in `folder`: the foreground's name without its
// folder and without everything from its first "." on, with ".png".
QString compositeFileName(const QString& folder, const QString& foreground);

// Writes `image` as PNG (8 bits per channel with alpha) at the image writer's `quality`.
// The file appears whole or not at all: an earlier file of that name stays in place until the
// new one is complete. On failure returns false and says why in `error`; `diskFull` (when
// given) tells whether it failed for want of space, where every later write would fail too.
bool writePng(const QImage& image, const QString& path, int quality, QString* error,
              bool* diskFull = nullptr);

// Writes the file at `path` with `encode`, which writes the whole stream into the device it is
// given (seekable) and says why in its second argument when it fails; whole or not at all, as
// writePng.
using Encode = std::function<bool(QIODevice* out, QString* error)>;
bool writeWhole(const QString& path, const Encode& encode, QString* error,
                bool* diskFull = nullptr);

}  // namespace png
