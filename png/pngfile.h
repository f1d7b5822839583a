// Writing a composite as a PNG file.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>
#include <functional>

namespace png {

// The file a composite of `foreground` gets in `folder`: the foreground's name without its
// folder and without everything from its first "." on, with ".png". Leading dots are part of the
// name (".hidden.jpg" gives ".hidden.png").
QString compositeFileName(const QString& folder, const QString& foreground);

// Writes `image` as PNG (8 bits per channel with alpha) at the image writer's `quality`.
// The file appears whole or not at all: it is written under a temporary name of its own in the
// same folder and renamed over `path` once complete, so an earlier file of that name stays in
// place until then. A symbolic link at `path` is replaced, never followed; a folder or a pipe,
// device or socket there is refused, and so is a read-only earlier file. On failure returns false
// and says why in `error`; `diskFull` (when given) tells whether it failed for want of space, where
// every later write would fail too.
bool writePng(const QImage& image, const QString& path, int quality, QString* error,
              bool* diskFull = nullptr);

// Writes the file at `path` with `encode`, which writes the whole stream into the device it is
// given (seekable) and says why in its second argument when it fails; whole or not at all, as
// writePng.
using Encode = std::function<bool(QIODevice* out, QString* error)>;
bool writeWhole(const QString& path, const Encode& encode, QString* error,
                bool* diskFull = nullptr);

}  // namespace png
