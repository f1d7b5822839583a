// Synthetic photos for the tests and the benchmarks, drawn from fixed seeds so that every run
// sees the same pixels.
#pragma once

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <algorithm>

namespace photos {

// The size of a full-frame camera's photo.
constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A studio shot as a JPEG decodes (RGB32): a green backdrop lit brighter towards the bottom
// with sensor noise, a blue strip on the right, a subject of skin tones with dark stripes, and a
// bottom quarter of random colours, so that every keyer keys some pixels and keeps others.
inline QImage studioShot(int w = kWidth, int h = kHeight, quint32 seed = 7) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 v = rng.generate();
            const int n = int(v >> 27) - 16;
            const qint64 dx = x - w / 2, dy = y - h / 2;
            int r = 30 + n, g = 190 + n + y * 40 / h, b = 60 + n;
            if (x >= w * 5 / 6)
                r = 20 + n, g = 40 + n, b = 200 + n;
            if (dx * dx * 16 + dy * dy * 9 < qint64(w) * w) {
                r = 180 + n + x % 60, g = 120 + n + y % 50, b = 90 + n;
                if ((x / 7 + y / 5) % 5 == 0)
                    r = 20 + n / 2, g = 30 + n, b = 25;
            }
            if (y >= h * 3 / 4)
                r = int(v & 255), g = int(v >> 8) & 255, b = int(v >> 16) & 255;
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return img;
}

// A `w` x `h` ARGB32 image whose pixel (x, y) is `pixel(x, y, rng)`, drawn row by row.
template <class Pixel>
QImage drawn(int w, int h, quint32 seed, Pixel pixel) {
    QImage img(w, h, QImage::Format_ARGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = pixel(x, y, rng);
    }
    return img;
}

// A keyed foreground as the keyers leave it: an elliptical subject of opaque pixels, a rim of
// alpha-248 pixels, the backdrop 0x00000000, and (when `speckle`) scattered pixels of alpha
// 7, 128 and 0 so that every blend case occurs.
inline QImage keyed(int w, int h, quint32 seed, bool speckle = true) {
    return drawn(w, h, seed, [&](int x, int y, QRandomGenerator& rng) {
        const double dx = (x - w * 0.5) / (w * 0.3 + 0.5), dy = (y - h * 0.55) / (h * 0.4 + 0.5);
        const double d = dx * dx + dy * dy;
        const quint32 rgb = rng.generate() & 0xffffffu;
        quint32 alpha = d < 0.85 ? 255u : d < 1.0 ? 248u : 0u;
        const quint32 r = speckle ? rng.bounded(40u) : 40u;
        alpha = r == 0 ? 7u : r == 1 ? 128u : r == 2 ? 0u : alpha;
        return alpha == 0 ? 0u : (alpha << 24) | rgb;
    });
}

// A background photo: opaque noise, or noise of any alpha when `translucent`.
inline QImage background(int w, int h, quint32 seed, bool translucent = false) {
    return drawn(w, h, seed, [&](int, int, QRandomGenerator& rng) {
        return translucent ? rng.generate() : rng.generate() | 0xff000000u;
    });
}

// `img` as a file of `format` ("JPG", "PNG", ...) holds it.
inline QByteArray encoded(const QImage& img, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && img.save(&buffer, format, quality) ? bytes
                                                                                   : QByteArray();
}

// A studio shot, or a plain photo of `colour` when one is given, saved at `path` (its folder
// made first) in the format its suffix names; gives `path` back, or nothing on failure.
inline QString saved(const QString& path, QSize size = QSize(160, 120), QRgb colour = 0) {
    QImage img =
        colour ? QImage(size, QImage::Format_RGB32) : studioShot(size.width(), size.height());
    if (colour)
        img.fill(colour);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return img.save(path, nullptr, 95) ? path : QString();
}

// A frame to lay over a composite, saved at `path`: an opaque `border`, a half-transparent white
// band inside it, clear in the middle; gives `path` back, or nothing on failure.
inline QString frame(const QString& path, QSize size, QRgb border = qRgb(200, 30, 60)) {
    QImage f(size, QImage::Format_ARGB32);
    f.fill(border);
    QPainter p(&f);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const int b = size.width() / 12;
    p.fillRect(f.rect().adjusted(b, b, -b, -b), QColor(255, 255, 255, 128));
    p.fillRect(f.rect().adjusted(2 * b, 2 * b, -2 * b, -2 * b), Qt::transparent);
    p.end();
    return f.save(path) ? path : QString();
}

}  // namespace photos
