// A PNG encoder for large composites: decodes to exactly what Qt's own PNG writer's output
// decodes to (format, pixels, colour space, resolution, offset, texts), in a fraction of the time.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>

namespace png {

// Encodes `image` as a PNG stream into `out` (already open for writing), its colour space as
// an sRGB chunk or an iCCP profile. `quality` 0..100 as
// QImageWriter's: 100 = no compression (fastest), lower = more compression, same pixels.
// Returns false with the reason in `error` (may be null) when encoding or writing fails.
//
// Format_ARGB32, Format_ARGB32_Premultiplied and Format_RGB32 take the fast path; every other
// format is handed to QImageWriter. A text entry whose key has no valid PNG keyword in it (say
// "   ") is left out; Qt's writer would refuse the whole image for it.
//
// `exif`, when given, is written as an eXIf chunk: a TIFF structure of the camera's description.
bool encodePng(const QImage& image, QIODevice* out, int quality, QString* error,
               const QByteArray& exif = QByteArray());

}  // namespace png
