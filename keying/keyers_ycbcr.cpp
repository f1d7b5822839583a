// YCbCr keyers: MaskOut3 (soft Cb-Cr distance with a cut-off) and MaskOut7 (box in Y, Cb, Cr).
#include <algorithm>
#include <cstdlib>

#include "keying/keyer.h"
#include "keying/pixels.h"
#include "keying/ycbcr.h"
#include "keying/ycbcr_limits.h"

namespace keying {

namespace detail {

bool maskOut3Keys(int dCb, int dCr, int coarse) {
    const float f = float(isGreen(0, 0, dCb, dCr, 2, coarse + 18));
    const float a = 1.0f - f;
    return double(a) > 0.015;
}

int maskOut3SquaredLimit(int coarse) {
    // Smallest squared offset that is kept; everything below it is keyed out.
    int firstKept = 2 * 255 * 255 + 1;
    for (int dCb = 0; dCb < 256; ++dCb) {
        for (int dCr = 0; dCr <= dCb; ++dCr) {
            const int d2 = dCb * dCb + dCr * dCr;
            if (d2 < firstKept && !maskOut3Keys(dCb, dCr, coarse)) {
                firstKept = d2;
            }
        }
    }
    return firstKept - 1;
}

}  // namespace detail

namespace {

using detail::forEachRow;
using detail::toArgb32;

KEYING_KERNEL void chromaRampRow(quint32* px, int n, int kcb, int kcr, int limit) {
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
        const int dcb = kcb - rgb2cb(r, g, b), dcr = kcr - rgb2cr(r, g, b);
        px[i] = dcb * dcb + dcr * dcr <= limit ? 0u : p;
    }
}

KEYING_KERNEL void boxRow(quint32* px, int n, int ky, int kcb, int kcr, int chroma, int luma) {
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
        const bool inside = (std::abs(rgb2cb(r, g, b) - kcb) < chroma) &
                            (std::abs(rgb2cr(r, g, b) - kcr) < chroma) &
                            (std::abs(rgb2y(r, g, b) - ky) < luma);
        px[i] = inside ? 0u : p;
    }
}

struct KeyRgb {
    int r, g, b;
};

// The key's channels with 0 replaced by 1.
KeyRgb substituted(QRgb key) {
    return {std::max(qRed(key), 1), std::max(qGreen(key), 1), std::max(qBlue(key), 1)};
}

}  // namespace

void maskOut3(QImage& img, QRgb key, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const KeyRgb k = substituted(key);
    const int kcb = rgb2cb(k.r, k.g, k.b), kcr = rgb2cr(k.r, k.g, k.b);
    const int limit = detail::maskOut3SquaredLimit(s.coarse);
    forEachRow(img, [&](quint32* row, int w) { chromaRampRow(row, w, kcb, kcr, limit); });
}

void maskOut7(QImage& img, QRgb key, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const KeyRgb k = substituted(key);
    const int ky = rgb2y(k.r, k.g, k.b), kcb = rgb2cb(k.r, k.g, k.b);
    const int kcr = rgb2cr(k.r, k.g, k.b);
    // Strictly inside a box of fine + 8 in Cb and Cr and coarse + 18 + 38 in Y around the key.
    const int chroma = s.fine + 8, luma = s.coarse + 18 + 38;
    forEachRow(img, [&](quint32* row, int w) { boxRow(row, w, ky, kcb, kcr, chroma, luma); });
}

}  // namespace keying
