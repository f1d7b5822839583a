// Table-driven form of rgbToHsv for the pixel loops. Value is the largest channel and
// saturation depends only on the largest and smallest channel; hue depends only on which
// channel is the largest, the difference of the other two (in the order of the hue formula)
// and max - min. Both tables are filled by rgbToHsv itself, and the tests check the result
// against rgbToHsv for every 24-bit colour.
#pragma once

#include <QtGlobal>
#include <algorithm>

namespace keying::detail {

struct HsvLut {
    // Per sector (red, green, blue largest) 65536 entries: index d * (d + 1) + num with
    // d = max - min in 0..255 and num in -d..d. Entry 0 of the red sector is the grey case.
    qint16 hue[3 * 65536];
    quint8 sat[256 * 256];  // [max * 256 + min]
};

const HsvLut& hsvLut();

struct PixelHsv {
    int h, s, v;
};

inline PixelHsv lutHsv(const HsvLut& t, quint32 p) {
    const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
    const int mx = std::max(r, std::max(g, b));
    const int mn = std::min(r, std::min(g, b));
    const int d = mx - mn;
    int base, num;
    if (r == mx) {
        base = 0;
        num = g - b;
    } else if (g == mx) {
        base = 65536;
        num = b - r;
    } else {
        base = 2 * 65536;
        num = r - g;
    }
    return {t.hue[base + d * (d + 1) + num], t.sat[mx * 256 + mn], mx};
}

}  // namespace keying::detail
