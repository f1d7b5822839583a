// The background photo of the benchmarks.
#pragma once

#include <QImage>
#include <algorithm>

#include "support/photos.h"

namespace bench {

// A plain scene: sky fading to haze, then grass.
inline QImage scene(int w = photos::kWidth, int h = photos::kHeight) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const int t = y * 255 / h;
        const QRgb sky = qRgb(90 + t * 2 / 3, 140 + t / 3, 220 - t / 8), grass = qRgb(70, 110, 60);
        std::fill_n(reinterpret_cast<QRgb*>(img.scanLine(y)), w, y < h * 3 / 5 ? sky : grass);
    }
    return img;
}

}  // namespace bench
