// Keyers on plain red, green and blue: the ratio test (MaskOut, MaskOut4) and the
// distance-to-key test (MaskOut5, MaskOut6), both with the dark-neutral exception and the
// optional green spill pass.
//
// The float rules are reduced to exact equivalents that vectorise: channels are small
// integers (sums and differences exact in float), a float ratio widened to double is
// compared against the smallest float that reaches the double threshold, and a float
// distance threshold becomes an integer one.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "keying/keyer.h"
#include "keying/pixels.h"

namespace keying {

namespace {

using detail::forEachRow;
using detail::toArgb32;

float tolerance(const KeySettings& s) {
    return float(s.coarse) / 10.0f + float(s.fine) / 100.0f;
}

// The smallest float f with double(f) >= x, so that float r >= f exactly when
// double(r) >= x.
float smallestFloatAtLeast(double x) {
    float f = float(x);
    if (double(f) < x) {
        f = std::nextafter(f, INFINITY);
    }
    return f;
}

// The dark-neutral exception on the zero-substituted channels, then the spill pass on the
// pixel as stored. Flags are ints rather than bools so that the loops vectorise.
inline __attribute__((always_inline)) quint32 finish(quint32 p, int r0, int g0, int b0, int r,
                                                     int g, int b, int pass, int spill) {
    // A dark pixel is kept when green and blue differ and the larger of them lies within 15
    // of red, or green lies within 15 of blue.
    const int nearGB = std::abs(g - b) <= 15;
    const int nearRed = std::abs((g > b ? g : b) - r) <= 15;
    const int keepDark = (g != b) & (nearGB | nearRed);
    const int keyed = pass & ((r + g + b > 100) | (keepDark ^ 1));
    const quint32 corrected = (p & 0x00ff00ffu) | 0xff000000u | (quint32(g0 * 83 / 100) << 8);
    const int damp = spill & (g0 > r0) & (g0 > b0);
    const quint32 kept = damp ? corrected : p;
    return keyed ? 0u : kept;
}

template <bool Blue>
inline __attribute__((always_inline)) void ratioBody(quint32* px, int n, float lo, float hi,
                                                     int spill) {
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        const int r0 = int((p >> 16) & 0xff), g0 = int((p >> 8) & 0xff), b0 = int(p & 0xff);
        const int r = r0 > 0 ? r0 : 1, g = g0 > 0 ? g0 : 1, b = b0 > 0 ? b0 : 1;
        const float num = float(Blue ? b : g);
        const float r1 = num / float(Blue ? g : b);
        const float r2 = num / float(r);
        const int pass = ((r1 >= lo) & (r2 >= hi)) | ((r2 >= lo) & (r1 >= hi));
        px[i] = finish(p, r0, g0, b0, r, g, b, pass, spill);
    }
}

KEYING_KERNEL void ratioRowGreen(quint32* px, int n, float lo, float hi, int spill) {
    ratioBody<false>(px, n, lo, hi, spill);
}

KEYING_KERNEL void ratioRowBlue(quint32* px, int n, float lo, float hi, int spill) {
    ratioBody<true>(px, n, lo, hi, spill);
}

KEYING_KERNEL void distanceRow(quint32* px, int n, int kr, int kg, int kb, int limit, int spill) {
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        const int r0 = int((p >> 16) & 0xff), g0 = int((p >> 8) & 0xff), b0 = int(p & 0xff);
        const int r = r0 > 0 ? r0 : 1, g = g0 > 0 ? g0 : 1, b = b0 > 0 ? b0 : 1;
        const int pass =
            (std::abs(kr - r) < limit) & (std::abs(kg - g) < limit) & (std::abs(kb - b) < limit);
        px[i] = finish(p, r0, g0, b0, r, g, b, pass, spill);
    }
}

void ratioKeyer(QImage& img, const KeySettings& s, double a, double b) {
    if (!toArgb32(img)) {
        return;
    }
    const double tol = double(tolerance(s));
    const float lo = smallestFloatAtLeast(tol + a);
    const float hi = smallestFloatAtLeast(tol + b);
    const bool blue = s.backdrop == Backdrop::Blue;
    const int spill = s.correctSpill ? 1 : 0;
    forEachRow(img, [&](quint32* row, int w) {
        if (blue) {
            ratioRowBlue(row, w, lo, hi, spill);
        } else {
            ratioRowGreen(row, w, lo, hi, spill);
        }
    });
}

void distanceKeyer(QImage& img, QRgb key, const KeySettings& s, float margin) {
    if (!toArgb32(img)) {
        return;
    }
    const float t = tolerance(s) + margin;
    // For an integer distance d >= 0, d < t exactly when d < ceil(t) (and never when t <= 0).
    const int limit = t > 0.0f ? int(std::ceil(t)) : 0;
    const int kr = std::max(qRed(key), 1), kg = std::max(qGreen(key), 1);
    const int kb = std::max(qBlue(key), 1);
    const int spill = s.correctSpill ? 1 : 0;
    forEachRow(img, [&](quint32* row, int w) { distanceRow(row, w, kr, kg, kb, limit, spill); });
}

}  // namespace

void maskOut(QImage& img, QRgb, const KeySettings& s) {
    ratioKeyer(img, s, 1.161, 1.291);
}

void maskOut4(QImage& img, QRgb, const KeySettings& s) {
    ratioKeyer(img, s, 1.141, 1.241);
}

void maskOut5(QImage& img, QRgb key, const KeySettings& s) {
    distanceKeyer(img, key, s, 30.0f);
}

void maskOut6(QImage& img, QRgb key, const KeySettings& s) {
    distanceKeyer(img, key, s, 10.0f);
}

}  // namespace keying
