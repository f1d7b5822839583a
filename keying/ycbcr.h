// Full-range BT.601 (JFIF) YCbCr of 8-bit RGB, unclamped, and the Cb-Cr ramp of MaskOut3. The
// keyers and the key colour use the same conversions.
#pragma once

namespace keying {

namespace detail {

// std::lround for x >= 0, in a form that vectorises: x - trunc(x) is exact. Of 8-bit channels
// (0..255) every Y, Cb and Cr is at least 0.
inline __attribute__((always_inline)) int roundHalfAway(double x) {
    const int t = int(x);
    return t + int(x - double(t) >= 0.5);
}

}  // namespace detail

// Inline so that the keyers' pixel loops vectorise over them; channels are 0..255.
inline __attribute__((always_inline)) int rgb2y(int red, int green, int blue) {
    return detail::roundHalfAway((0.299 * red + 0.587 * green) + 0.114 * blue);
}

inline __attribute__((always_inline)) int rgb2cb(int red, int green, int blue) {  // 1..256
    return detail::roundHalfAway(((-0.168736 * red + 128.0) + -0.331264 * green) + 0.5 * blue);
}

inline __attribute__((always_inline)) int rgb2cr(int red, int green, int blue) {  // 1..256
    return detail::roundHalfAway(((0.5 * red + 128.0) + -0.418688 * green) + -0.081312 * blue);
}

// 0.0 inside the inner radius around the key's chroma, 1.0 at or beyond the outer radius,
// linear in between.
double isGreen(int pixelCb, int pixelCr, int keyCb, int keyCr, int innerRadius, int outerRadius);

}  // namespace keying
