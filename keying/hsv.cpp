#include "keying/hsv.h"

#include <algorithm>

namespace keying {

namespace {
// round(x) of the colour rules: x is never negative here.
inline int roundHalfUp(double x) {
    return int(x + 0.5);
}
}  // namespace

Hsv rgbToHsv(int r, int g, int b) {
    const double R = (r * 257) / 65535.0;
    const double G = (g * 257) / 65535.0;
    const double B = (b * 257) / 65535.0;
    const double max = std::max(R, std::max(G, B));
    const double min = std::min(R, std::min(G, B));
    const double delta = max - min;
    Hsv out;
    out.v = roundHalfUp(max * 65535) >> 8;
    if (delta == 0) {
        out.h = -1;
        out.s = 0;
        return out;
    }
    out.s = roundHalfUp(delta / max * 65535) >> 8;
    double h;
    if (R == max) {
        h = (G - B) / delta;
    } else if (G == max) {
        h = 2 + (B - R) / delta;
    } else {
        h = 4 + (R - G) / delta;
    }
    h *= 60;
    if (h < 0) {
        h += 360;
    }
    out.h = roundHalfUp(h * 100) / 100;
    return out;
}

QRgb hsvToRgb(int h, int s, int v, int alpha) {
    const int v16 = v * 257;
    const int s16 = s * 257;
    if (s16 == 0 || h < 0) {
        return qRgba(v16 >> 8, v16 >> 8, v16 >> 8, alpha);
    }
    const int h16 = (h % 360) * 100;
    const double hh = h16 == 36000 ? 0 : h16 / 6000.0;
    const double ss = s16 / 65535.0;
    const double vv = v16 / 65535.0;
    const int i = int(hh);
    const double f = hh - i;
    const double p = vv * (1.0 - ss);
    const double q = vv * (1.0 - ss * f);
    const double t = vv * (1.0 - ss * (1.0 - f));
    double rr, gg, bb;
    switch (i) {
        case 0:
            rr = vv, gg = t, bb = p;
            break;
        case 1:
            rr = q, gg = vv, bb = p;
            break;
        case 2:
            rr = p, gg = vv, bb = t;
            break;
        case 3:
            rr = p, gg = q, bb = vv;
            break;
        case 4:
            rr = t, gg = p, bb = vv;
            break;
        default:
            rr = vv, gg = p, bb = q;
            break;
    }
    return qRgba(roundHalfUp(rr * 65535) >> 8, roundHalfUp(gg * 65535) >> 8,
                 roundHalfUp(bb * 65535) >> 8, alpha);
}

}  // namespace keying
