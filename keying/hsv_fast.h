// rgbToHsv in exact integer arithmetic, for the pixel loops. The double-precision rules
// reduce to
//   value      = max
//   saturation = floor((131070 * d + max) / (512 * max)),          d = max - min
//   hue        = floor((12000 * n + d) / (200 * d)),  -1 when d = 0
// with n = (g - b) (+ 6d when negative) if red is the largest channel, 2d + (b - r) if green
// is, 4d + (r - g) if blue is. The quotients are taken in double precision, which is exact
// here (numerators below 2^26, distance from the next integer at least 1/denominator).
// The tests check the result against rgbToHsv for every 24-bit colour. Written with
// integer masks instead of branches so that loops using it vectorise.
#pragma once

#include <QtGlobal>

namespace keying::detail {

struct PixelHsv {
    int h, s, v;
};

inline __attribute__((always_inline)) PixelHsv fastHsv(quint32 p) {
    const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
    const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const int d = mx - mn;
    const int redMax = -int(r == mx);
    const int greenMax = -int(g == mx) & ~redMax;
    const int blueMax = ~(redMax | greenMax);
    const int num = ((g - b) & redMax) | ((b - r) & greenMax) | ((r - g) & blueMax);
    const int base = (6 & redMax & -int(num < 0)) | (2 & greenMax) | (4 & blueMax);
    const int n = base * d + num;
    const int dd = d | int(d == 0);
    const int hue = int(double(12000 * n + d) / double(200 * dd));  // 0 for greys
    const int sat = int(double(131070 * d + mx) / double(512 * (mx | int(mx == 0))));
    return {hue | -int(d == 0), sat, mx};
}

}  // namespace keying::detail
