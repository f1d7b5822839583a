#include "reference_keyers.h"

#include <QColor>
#include <cmath>

namespace reference {

namespace {

const QRgb kKeyedOut = 0x00000000;

int roundPositive(double x) {
    return int(x + 0.5);
}

struct Hsv {
    int h, s, v;
};

// Qt's own conversion, its 16-bit saturation and value reduced to 8 bits by a shift.
Hsv toHsv(QRgb c) {
    const QColor hsv = QColor(c).toHsv();
    return {hsv.hsvHue(), qRound(hsv.hsvSaturationF() * 65535) >> 8,
            qRound(hsv.valueF() * 65535) >> 8};
}

// HSV to RGB in double precision as the rules were set, 16-bit channels shifted to 8 bits;
// Qt 6's own conversion works in float and differs for a few colours.
QRgb fromHsv(int h, int s, int v, int alpha) {
    if (s == 0)
        return qRgba(v, v, v, alpha);
    const int h16 = (h % 360) * 100;
    const double hh = h16 == 36000 ? 0 : h16 / 6000.0, ss = s * 257 / 65535.0,
                 vv = v * 257 / 65535.0;
    const int i = int(hh);
    const double f = hh - i, p = vv * (1 - ss), q = vv * (1 - ss * f), t = vv * (1 - ss * (1 - f));
    const double rgb[6][3] = {{vv, t, p}, {q, vv, p}, {p, vv, t},
                              {p, q, vv}, {t, p, vv}, {vv, p, q}};
    const double* c = rgb[std::min(i, 5)];
    return qRgba(roundPositive(c[0] * 65535) >> 8, roundPositive(c[1] * 65535) >> 8,
                 roundPositive(c[2] * 65535) >> 8, alpha);
}

int rgb2y(int r, int g, int b) {
    return int(std::lround((0.299 * r + 0.587 * g) + 0.114 * b));
}
int rgb2cb(int r, int g, int b) {
    return int(std::lround(((-0.168736 * r + 128.0) + -0.331264 * g) + 0.5 * b));
}
int rgb2cr(int r, int g, int b) {
    return int(std::lround(((0.5 * r + 128.0) + -0.418688 * g) + -0.081312 * b));
}

// Runs `keep(x, y, pixel)` on every pixel of the photo converted to ARGB32; a pixel it returns
// false for is keyed out, and one it changes is written back.
template <class Rule>
void everyPixel(QImage& img, Rule keep) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const QRgb before = img.pixel(x, y);
            QRgb p = before;
            if (!keep(p))
                img.setPixel(x, y, kKeyedOut);
            else if (p != before)
                img.setPixel(x, y, p);
        }
    }
}

// The HSV keyers' fixed rules: 0 outside the gate band (kept), 1 vivid or core green (keyed
// out), 2 gated but left to the keyer's own rule.
int hueRule(const Hsv& c, int gateLo, int gateHi, int coreLo, int coreHi) {
    if (c.h < gateLo || c.h > gateHi)
        return 0;
    const bool vivid = c.s > 189 && c.v > 189;
    return vivid || (c.h >= coreLo && c.h <= coreHi && c.v > 95 && c.s > 95) ? 1 : 2;
}

}  // namespace

void maskOut10(QImage& img, QRgb, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const int o = st.backdrop == keying::Backdrop::Blue ? 100 : 0;
    long long sumH = 0, sumS = 0, sumV = 0, count = 0;
    for (int y = 0; y < img.height() / 3; y += 2) {
        for (int x = 0; x < img.width(); x += 2) {
            const Hsv c = toHsv(img.pixel(x, y));
            if (c.h >= 71 + o && c.h <= 159 + o)
                sumH += c.h, sumS += c.s, sumV += c.v, count++;
        }
    }
    count = std::max(count, 1LL);
    const int meanH = int(sumH / count), meanS = int(sumS / count), meanV = int(sumV / count);
    const float d = st.spill == 0 ? 1.2f : float(st.spill / 10.0f + 1.1);
    everyPixel(img, [&](QRgb& p) {
        const Hsv c = toHsv(p);
        const int rule = c.v <= 30 || c.s <= 30 ? 0 : hueRule(c, 64 + o, 166 + o, 106 + o, 139 + o);
        if (rule != 2)
            return rule == 0;
        if (std::abs(c.h - meanH) < st.fine + 20 && std::abs(c.s - meanS) < st.fine + 50 &&
            std::abs(c.v - meanV) < st.fine + 50)
            return false;
        if (st.correctSpill)
            p = fromHsv(c.h, int(c.s / d), c.v, 248);
        return true;
    });
}

namespace {

void maskOut9(QImage& img, QRgb, const keying::KeySettings& st) {
    everyPixel(img, [&](QRgb& p) {
        const Hsv c = toHsv(p);
        const int rule = hueRule(c, 66, 174, 106, 139);
        if (rule != 2)
            return rule == 0;
        return !(c.h >= 70 && c.h <= 105 && c.v >= st.coarse + 80 && c.s >= st.fine + 220);
    });
}

void maskOut8(QImage& img, QRgb key, const keying::KeySettings& st) {
    const Hsv k = toHsv(key);
    everyPixel(img, [&](QRgb& p) {
        const Hsv c = toHsv(p);
        return !(std::abs(k.h - c.h) < st.fine + 19 && k.s - c.s >= -5 && k.s - c.s <= 5 &&
                 std::abs(k.v - c.v) < st.coarse + 88 && c.v > 50);
    });
}

int sub(int c) {
    return c == 0 ? 1 : c;
}

// The RGB keyers: `passes` picks candidates, a dark-neutral exception keeps some of them, then
// the optional spill pass damps the green of what is left.
template <class Test>
void rgbFamily(QImage& img, const keying::KeySettings& st, Test passes) {
    everyPixel(img, [&](QRgb& p) {
        const float R = float(sub(qRed(p))), G = float(sub(qGreen(p))), B = float(sub(qBlue(p)));
        if (!passes(R, G, B))
            return true;
        if (R + G + B > 100.0f)
            return false;
        if (G > B)
            return std::fabs(G - R) <= 15.0f || std::fabs(G - B) <= 15.0f;
        if (B > G)
            return std::fabs(B - R) <= 15.0f || std::fabs(G - B) <= 15.0f;
        return false;
    });
    if (!st.correctSpill)
        return;
    everyPixel(img, [](QRgb& p) {
        if (qGreen(p) > qRed(p) && qGreen(p) > qBlue(p))
            p = qRgba(qRed(p), qGreen(p) * 83 / 100, qBlue(p), 255);
        return true;
    });
}

float tolerance(const keying::KeySettings& st) {
    return st.coarse / 10.0f + st.fine / 100.0f;
}

void ratio(QImage& img, const keying::KeySettings& st, double a, double b) {
    const double L = double(tolerance(st)) + a, U = double(tolerance(st)) + b;
    const bool blue = st.backdrop == keying::Backdrop::Blue;
    rgbFamily(img, st, [&](float R, float G, float B) {
        const double r1 = blue ? B / G : G / B, r2 = blue ? B / R : G / R;
        return (r1 >= L && r2 >= U) || (r2 >= L && r1 >= U);
    });
}

void distance(QImage& img, QRgb key, const keying::KeySettings& st, float m) {
    const float Rk = float(sub(qRed(key))), Gk = float(sub(qGreen(key))),
                Bk = float(sub(qBlue(key))), T = tolerance(st) + m;
    rgbFamily(img, st, [&](float R, float G, float B) {
        return std::fabs(Rk - R) < T && std::fabs(Gk - G) < T && std::fabs(Bk - B) < T;
    });
}

void maskOut3(QImage& img, QRgb key, const keying::KeySettings& st) {
    const int kr = sub(qRed(key)), kg = sub(qGreen(key)), kb = sub(qBlue(key));
    const int kcb = rgb2cb(kr, kg, kb), kcr = rgb2cr(kr, kg, kb), inner = 2, outer = st.coarse + 18;
    everyPixel(img, [&](QRgb& p) {
        const int dcb = kcb - rgb2cb(qRed(p), qGreen(p), qBlue(p)),
                  dcr = kcr - rgb2cr(qRed(p), qGreen(p), qBlue(p));
        const double d = std::sqrt(double(dcb * dcb + dcr * dcr));
        const double green = double(inner) > d   ? 0.0
                             : double(outer) > d ? (d - inner) / (outer - inner)
                                                 : 1.0;
        return !(double(1.0f - float(green)) > 0.015);
    });
}

void maskOut7(QImage& img, QRgb key, const keying::KeySettings& st) {
    const int kr = sub(qRed(key)), kg = sub(qGreen(key)), kb = sub(qBlue(key));
    const int ky = rgb2y(kr, kg, kb), kcb = rgb2cb(kr, kg, kb), kcr = rgb2cr(kr, kg, kb);
    everyPixel(img, [&](QRgb& p) {
        const int r = qRed(p), g = qGreen(p), b = qBlue(p);
        return !(double(st.fine + 8) > std::fabs(double(rgb2cb(r, g, b) - kcb)) &&
                 double(st.fine + 8) > std::fabs(double(rgb2cr(r, g, b) - kcr)) &&
                 double(st.coarse + 18 + 38) > std::fabs(double(rgb2y(r, g, b) - ky)));
    });
}

}  // namespace

keying::Keyer keyerFor(int magic) {
    using keying::KeySettings;
    static const keying::Keyer table[9] = {
        [](QImage& img, QRgb, const KeySettings& st) { ratio(img, st, 1.161, 1.291); },
        maskOut3,
        [](QImage& img, QRgb, const KeySettings& st) { ratio(img, st, 1.141, 1.241); },
        [](QImage& img, QRgb key, const KeySettings& st) { distance(img, key, st, 30.0f); },
        [](QImage& img, QRgb key, const KeySettings& st) { distance(img, key, st, 10.0f); },
        maskOut7,
        maskOut8,
        maskOut9,
        maskOut10};
    return magic >= 1 && magic <= 9 ? table[magic - 1] : nullptr;
}

}  // namespace reference
