#include "reference_keyers.h"

#include <QColor>
#include <cmath>

namespace reference {

namespace {

int qRoundPositive(double x) {
    return int(x + 0.5);
}

const QRgb kKeyedOut = QColor(0, 0, 0, 0).rgba();

}  // namespace

Hsv toHsv(QRgb c) {
    const double r = (qRed(c) * 257) / 65535.0;
    const double g = (qGreen(c) * 257) / 65535.0;
    const double b = (qBlue(c) * 257) / 65535.0;
    double max = r;
    if (g > max)
        max = g;
    if (b > max)
        max = b;
    double min = r;
    if (g < min)
        min = g;
    if (b < min)
        min = b;
    const double delta = max - min;
    Hsv out;
    out.v = qRoundPositive(max * 65535) >> 8;
    if (delta == 0) {
        out.h = -1;
        out.s = 0;
        return out;
    }
    out.s = qRoundPositive(delta / max * 65535) >> 8;
    double hue;
    if (r == max) {
        hue = (g - b) / delta;
    } else if (g == max) {
        hue = 2 + (b - r) / delta;
    } else {
        hue = 4 + (r - g) / delta;
    }
    hue *= 60;
    if (hue < 0)
        hue += 360;
    out.h = qRoundPositive(hue * 100) / 100;
    return out;
}

QRgb fromHsv(int h, int s, int v, int alpha) {
    const int H16 = (h % 360) * 100, S16 = s * 257, V16 = v * 257;
    int r16, g16, b16;
    if (S16 == 0) {
        r16 = g16 = b16 = V16;
    } else {
        const double hh = H16 == 36000 ? 0 : H16 / 6000.0;
        const double ss = S16 / 65535.0, vv = V16 / 65535.0;
        const int i = int(hh);
        const double f = hh - i;
        const double p = vv * (1 - ss);
        const double q = vv * (1 - ss * f);
        const double t = vv * (1 - ss * (1 - f));
        double rr = 0, gg = 0, bb = 0;
        if (i == 0) {
            rr = vv, gg = t, bb = p;
        } else if (i == 1) {
            rr = q, gg = vv, bb = p;
        } else if (i == 2) {
            rr = p, gg = vv, bb = t;
        } else if (i == 3) {
            rr = p, gg = q, bb = vv;
        } else if (i == 4) {
            rr = t, gg = p, bb = vv;
        } else {
            rr = vv, gg = p, bb = q;
        }
        r16 = qRoundPositive(rr * 65535);
        g16 = qRoundPositive(gg * 65535);
        b16 = qRoundPositive(bb * 65535);
    }
    return qRgba(r16 >> 8, g16 >> 8, b16 >> 8, alpha);
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

// ---- MaskOut10 ----

void maskOut10(QImage& img, QRgb, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const bool blue = st.backdrop == keying::Backdrop::Blue;
    const int sampleLo = blue ? 171 : 71, sampleHi = blue ? 259 : 159;
    const int gateLo = blue ? 164 : 64, gateHi = blue ? 266 : 166;
    const int coreLo = blue ? 206 : 106, coreHi = blue ? 239 : 139;

    long long sumH = 0, sumS = 0, sumV = 0, count = 0;
    for (int y = 0; y < img.height() / 3; y += 2) {
        for (int x = 0; x < img.width(); x += 2) {
            const Hsv c = toHsv(img.pixel(x, y));
            if (c.h >= sampleLo && c.h <= sampleHi) {
                sumH += c.h;
                sumS += c.s;
                sumV += c.v;
                count++;
            }
        }
    }
    if (count == 0)
        count = 1;
    const int meanH = int(sumH / count), meanS = int(sumS / count), meanV = int(sumV / count);

    float d;
    if (st.spill == 0) {
        d = 1.2;
    } else {
        d = st.spill / 10.0f + 1.1;
    }
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const Hsv c = toHsv(img.pixel(x, y));
            const int h = c.h, s = c.s, v = c.v;
            if (h < gateLo || h > gateHi || v <= 30 || s <= 30)
                continue;
            if (s > 189 && v > 189) {
                img.setPixel(x, y, kKeyedOut);
            } else if (h >= coreLo && h <= coreHi && v > 95 && s > 95) {
                img.setPixel(x, y, kKeyedOut);
            } else if (std::abs(h - meanH) < st.fine + 20 && std::abs(s - meanS) < st.fine + 50 &&
                       std::abs(v - meanV) < st.fine + 50) {
                img.setPixel(x, y, kKeyedOut);
            } else if (st.correctSpill) {
                const int s2 = int(s / d);
                img.setPixel(x, y, fromHsv(h, s2, v, 248));
            }
        }
    }
}

// ---- MaskOut9 ----

void maskOut9(QImage& img, QRgb, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const int valueFloor = st.coarse + 80, satFloor = st.fine + 220;
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const Hsv c = toHsv(img.pixel(x, y));
            if (c.h < 66 || c.h > 174)
                continue;
            if (c.s > 189 && c.v > 189) {
                img.setPixel(x, y, kKeyedOut);
            } else if (c.h >= 106 && c.h <= 139 && c.v > 95 && c.s > 95) {
                img.setPixel(x, y, kKeyedOut);
            } else if (c.h >= 70 && c.h <= 105 && c.v >= valueFloor && c.s >= satFloor) {
                img.setPixel(x, y, kKeyedOut);
            }
        }
    }
}

// ---- MaskOut8 ----

void maskOut8(QImage& img, QRgb key, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const Hsv k = toHsv(key);
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const Hsv c = toHsv(img.pixel(x, y));
            if (std::abs(k.h - c.h) < st.fine + 19 && k.s - c.s >= -5 && k.s - c.s <= 5 &&
                std::abs(k.v - c.v) < st.coarse + 88 && c.v > 50) {
                img.setPixel(x, y, kKeyedOut);
            }
        }
    }
}

// ---- MaskOut, MaskOut4, MaskOut5, MaskOut6 ----

namespace {

float substitute(int c) {
    return c == 0 ? 1.0f : float(c);
}

// Keying pass with the dark-neutral exception, then the optional spill pass.
template <class Test>
void rgbFamily(QImage& img, const keying::KeySettings& st, Test passes) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const QRgb p = img.pixel(x, y);
            const float R = substitute(qRed(p)), G = substitute(qGreen(p)),
                        B = substitute(qBlue(p));
            if (!passes(R, G, B))
                continue;
            const float S = R + G + B;
            bool keyOut;
            if (S > 100.0f) {
                keyOut = true;
            } else if (G > B) {
                keyOut = !(std::fabs(G - R) <= 15.0f || std::fabs(G - B) <= 15.0f);
            } else if (B > G) {
                keyOut = !(std::fabs(B - R) <= 15.0f || std::fabs(G - B) <= 15.0f);
            } else {
                keyOut = true;
            }
            if (keyOut)
                img.setPixel(x, y, kKeyedOut);
        }
    }
    if (!st.correctSpill)
        return;
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const QRgb p = img.pixel(x, y);
            const int R = qRed(p), G = qGreen(p), B = qBlue(p);
            if (G > R && G > B)
                img.setPixel(x, y, qRgba(R, G * 83 / 100, B, 255));
        }
    }
}

float tolerance(const keying::KeySettings& st) {
    return st.coarse / 10.0f + st.fine / 100.0f;
}

void ratio(QImage& img, const keying::KeySettings& st, double a, double b) {
    const double L = double(tolerance(st)) + a, U = double(tolerance(st)) + b;
    const bool blue = st.backdrop == keying::Backdrop::Blue;
    rgbFamily(img, st, [&](float R, float G, float B) {
        const double r1 = blue ? B / G : G / B;
        const double r2 = blue ? B / R : G / R;
        return (r1 >= L && r2 >= U) || (r2 >= L && r1 >= U);
    });
}

void distance(QImage& img, QRgb key, const keying::KeySettings& st, float m) {
    const float Rk = substitute(qRed(key)), Gk = substitute(qGreen(key)),
                Bk = substitute(qBlue(key));
    const float T = tolerance(st) + m;
    rgbFamily(img, st, [&](float R, float G, float B) {
        return std::fabs(Rk - R) < T && std::fabs(Gk - G) < T && std::fabs(Bk - B) < T;
    });
}

}  // namespace

void maskOut(QImage& img, QRgb, const keying::KeySettings& st) {
    ratio(img, st, 1.161, 1.291);
}
void maskOut4(QImage& img, QRgb, const keying::KeySettings& st) {
    ratio(img, st, 1.141, 1.241);
}
void maskOut5(QImage& img, QRgb key, const keying::KeySettings& st) {
    distance(img, key, st, 30.0f);
}
void maskOut6(QImage& img, QRgb key, const keying::KeySettings& st) {
    distance(img, key, st, 10.0f);
}

// ---- MaskOut3, MaskOut7 ----

namespace {

double isGreen(int pcb, int pcr, int kcb, int kcr, int inner, int outer) {
    const int dcb = kcb - pcb, dcr = kcr - pcr;
    const double d = std::sqrt(double(dcb * dcb + dcr * dcr));
    if (double(inner) > d)
        return 0.0;
    if (double(outer) > d)
        return (d - inner) / (outer - inner);
    return 1.0;
}

double isGreen2(int py, int pcb, int pcr, int ky, int kcb, int kcr, int chroma, int luma) {
    if (double(chroma + 8) > std::fabs(double(pcb - kcb)) &&
        double(chroma + 8) > std::fabs(double(pcr - kcr)) &&
        double(luma + 38) > std::fabs(double(py - ky))) {
        return 1.0;
    }
    return 0.0;
}

int sub(int c) {
    return c == 0 ? 1 : c;
}

}  // namespace

void maskOut3(QImage& img, QRgb key, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const int kr = sub(qRed(key)), kg = sub(qGreen(key)), kb = sub(qBlue(key));
    const int kcb = rgb2cb(kr, kg, kb), kcr = rgb2cr(kr, kg, kb);
    const int outer = st.coarse + 18;
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const QRgb p = img.pixel(x, y);
            const int cb = rgb2cb(qRed(p), qGreen(p), qBlue(p));
            const int cr = rgb2cr(qRed(p), qGreen(p), qBlue(p));
            const float f = float(isGreen(cb, cr, kcb, kcr, 2, outer));
            const float a = 1.0f - f;
            const double t = 0.015;
            if (double(a) > t)
                img.setPixel(x, y, kKeyedOut);
        }
    }
}

void maskOut7(QImage& img, QRgb key, const keying::KeySettings& st) {
    img = img.convertToFormat(QImage::Format_ARGB32);
    const int kr = sub(qRed(key)), kg = sub(qGreen(key)), kb = sub(qBlue(key));
    const int ky = rgb2y(kr, kg, kb), kcb = rgb2cb(kr, kg, kb), kcr = rgb2cr(kr, kg, kb);
    for (int y = 0; y < img.height(); y++) {
        for (int x = 0; x < img.width(); x++) {
            const QRgb p = img.pixel(x, y);
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            const float m = float(isGreen2(rgb2y(r, g, b), rgb2cb(r, g, b), rgb2cr(r, g, b), ky,
                                           kcb, kcr, st.fine, st.coarse + 18));
            if (m > 0)
                img.setPixel(x, y, kKeyedOut);
        }
    }
}

keying::Keyer keyerFor(int magic) {
    static const keying::Keyer table[9] = {maskOut,  maskOut3, maskOut4, maskOut5, maskOut6,
                                           maskOut7, maskOut8, maskOut9, maskOut10};
    return magic >= 1 && magic <= 9 ? table[magic - 1] : nullptr;
}

}  // namespace reference
