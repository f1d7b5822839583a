// Small helpers for the keyer tests: one-row test photos and colours found by their HSV or
// YCbCr, computed with the engine's own conversions rather than written down by hand.
#pragma once

#include <QImage>
#include <functional>
#include <optional>
#include <vector>

#include "keying/hsv.h"
#include "keying/keyer.h"

namespace keying_test {

// A one-row ARGB32 photo holding the given pixels.
inline QImage rowImage(const std::vector<QRgb>& px) {
    QImage img(int(px.size()), 1, QImage::Format_ARGB32);
    for (int x = 0; x < int(px.size()); ++x) {
        img.setPixel(x, 0, px[x]);
    }
    return img;
}

// The pixel at x of row 0 after keying a one-row photo with `keyer`.
inline std::vector<QRgb> keyRow(keying::Keyer keyer, const std::vector<QRgb>& px, QRgb key,
                                const keying::KeySettings& s) {
    QImage img = rowImage(px);
    keyer(img, key, s);
    std::vector<QRgb> out;
    for (int x = 0; x < img.width(); ++x) {
        out.push_back(img.pixel(x, 0));
    }
    return out;
}

inline QRgb keyOne(keying::Keyer keyer, QRgb px, QRgb key, const keying::KeySettings& s) {
    return keyRow(keyer, {px}, key, s)[0];
}

// First opaque colour, in r, g, b order, that satisfies pred.
inline std::optional<QRgb> colourWhere(const std::function<bool(int, int, int)>& pred) {
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                if (pred(r, g, b)) {
                    return qRgb(r, g, b);
                }
            }
        }
    }
    return std::nullopt;
}

// An opaque colour whose HSV is exactly (h, s, v); the largest channel is v, so only the
// two other channels are searched.
inline std::optional<QRgb> colourWithHsv(int h, int s, int v) {
    for (int a = 0; a <= v; ++a) {
        for (int b = 0; b <= v; ++b) {
            const QRgb cands[3] = {qRgb(v, a, b), qRgb(a, v, b), qRgb(a, b, v)};
            for (QRgb c : cands) {
                if (keying::rgbToHsv(c) == keying::Hsv{h, s, v}) {
                    return c;
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace keying_test
