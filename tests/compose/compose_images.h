// Synthetic pictures for the composite tests and benchmark.
#pragma once

#include <QImage>
#include <QRandomGenerator>

namespace composeimages {

// A keyed foreground as the keyers leave it: an elliptical subject of opaque pixels, a rim of
// spill-corrected alpha-248 pixels, the backdrop keyed out to 0x00000000, and (when `speckle`)
// scattered pixels of alpha 7 and 128 so every blend case occurs.
inline QImage keyed(int w, int h, quint32 seed, bool speckle = true) {
    QImage img(w, h, QImage::Format_ARGB32);
    QRandomGenerator rng(seed);
    const double cx = w * 0.5;
    const double cy = h * 0.55;
    const double rx = w * 0.3 + 0.5;
    const double ry = h * 0.4 + 0.5;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double dx = (x - cx) / rx;
            const double dy = (y - cy) / ry;
            const double d = dx * dx + dy * dy;
            const quint32 rgb = rng.generate() & 0xffffffu;
            quint32 alpha = d < 0.85 ? 255u : d < 1.0 ? 248u : 0u;
            if (speckle) {
                const quint32 r = rng.bounded(40u);
                if (r == 0) {
                    alpha = 7;
                } else if (r == 1) {
                    alpha = 128;
                } else if (r == 2) {
                    alpha = 0;
                }
            }
            row[x] = alpha == 0 ? 0u : (alpha << 24) | rgb;
        }
    }
    return img;
}

// A background photo: opaque noise, or with random alpha when `translucent`.
inline QImage background(int w, int h, quint32 seed, bool translucent = false) {
    QImage img(w, h, QImage::Format_ARGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 v = rng.generate();
            row[x] = translucent ? v : (v | 0xff000000u);
        }
    }
    return img;
}

}  // namespace composeimages
