// Integer HSV as the keyers test it: hue 0..359 (or -1 without hue), saturation and value
// 0..255, computed in double precision through 16-bit intermediates. QColor is not used
// because its rounding differs from these rules for about a fifth of all colours.
#pragma once

#include <QRgb>

namespace keying {

struct Hsv {
    int h;  // 0..359, -1 when red, green and blue are equal
    int s;  // 0..255
    int v;  // 0..255
};

inline bool operator==(const Hsv& a, const Hsv& b) {
    return a.h == b.h && a.s == b.s && a.v == b.v;
}

Hsv rgbToHsv(int r, int g, int b);
inline Hsv rgbToHsv(QRgb c) {
    return rgbToHsv(qRed(c), qGreen(c), qBlue(c));
}

// The colour with hue h, saturation s, value v and the given alpha, as 0xAARRGGBB.
// A hue below 0 gives a grey of value v.
QRgb hsvToRgb(int h, int s, int v, int alpha);

}  // namespace keying
