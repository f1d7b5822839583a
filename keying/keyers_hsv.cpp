// HSV keyers: MaskOut10 (backdrop estimate, then keying with spill correction), MaskOut9
// (fixed green bands) and MaskOut8 (close to the key colour). Pixels are converted with the
// table form of rgbToHsv, which gives the same integers.
#include <QDebug>
#include <cstdlib>
#include <vector>

#include "keying/hsv.h"
#include "keying/hsv_lut.h"
#include "keying/keyer.h"
#include "keying/pixels.h"

namespace keying {

namespace {

using detail::forEachRow;
using detail::HsvLut;
using detail::lutHsv;
using detail::PixelHsv;
using detail::toArgb32;

// ---- MaskOut10 ----

struct HueBands {
    int sampleLo, sampleHi;  // backdrop estimate
    int gateLo, gateHi;      // pixels that may change at all
    int coreLo, coreHi;      // core rule
};

constexpr HueBands kGreenBands{71, 159, 64, 166, 106, 139};
constexpr HueBands kBlueBands{171, 259, 164, 266, 206, 239};

struct Sums {
    qint64 h = 0, s = 0, v = 0, count = 0;
};

// Sums over pixels 0, 2, 4, ... of one row whose hue lies in [lo, hi].
void sampleRow(const HsvLut& lut, const quint32* px, int n, int lo, int hi, Sums& out) {
    qint64 sh = 0, ss = 0, sv = 0, count = 0;
    for (int x = 0; x < n; x += 2) {
        const PixelHsv c = lutHsv(lut, px[x]);
        if (c.h >= lo && c.h <= hi) {
            sh += c.h;
            ss += c.s;
            sv += c.v;
            ++count;
        }
    }
    out.h += sh;
    out.s += ss;
    out.v += sv;
    out.count += count;
}

struct Mask10Params {
    const HsvLut* lut;
    HueBands bands;
    int meanH, meanS, meanV;
    int tolH, tolS, tolV;
    bool spill;
    const int* spillSat;  // corrected saturation per saturation
};

void mask10Row(quint32* px, int n, const Mask10Params& prm) {
    const HsvLut& lut = *prm.lut;
    const int gateLo = prm.bands.gateLo, gateHi = prm.bands.gateHi;
    const int coreLo = prm.bands.coreLo, coreHi = prm.bands.coreHi;
    const int meanH = prm.meanH, meanS = prm.meanS, meanV = prm.meanV;
    const int tolH = prm.tolH, tolS = prm.tolS, tolV = prm.tolV;
    const bool spill = prm.spill;
    for (int x = 0; x < n; ++x) {
        const PixelHsv c = lutHsv(lut, px[x]);
        if (c.h < gateLo || c.h > gateHi || c.v <= 30 || c.s <= 30) {
            continue;
        }
        const bool vivid = c.s > 189 && c.v > 189;
        const bool core = c.h >= coreLo && c.h <= coreHi && c.v > 95 && c.s > 95;
        const bool close = std::abs(c.h - meanH) < tolH && std::abs(c.s - meanS) < tolS &&
                           std::abs(c.v - meanV) < tolV;
        if (vivid || core || close) {
            px[x] = 0;
        } else if (spill) {
            px[x] = hsvToRgb(c.h, prm.spillSat[c.s], c.v, 248);
        }
    }
}

float spillDivisor(int spill) {
    if (spill == 0) {
        return 1.2f;
    }
    return float(double(float(spill) / 10.0f) + 1.1);
}

// ---- MaskOut9 ----

void mask9Row(const HsvLut& lut, quint32* px, int n, int valueFloor, int satFloor) {
    for (int x = 0; x < n; ++x) {
        const PixelHsv c = lutHsv(lut, px[x]);
        if (c.h < 66 || c.h > 174) {
            continue;
        }
        const bool vivid = c.s > 189 && c.v > 189;
        const bool core = c.h >= 106 && c.h <= 139 && c.v > 95 && c.s > 95;
        const bool tuned = c.h >= 70 && c.h <= 105 && c.v >= valueFloor && c.s >= satFloor;
        if (vivid || core || tuned) {
            px[x] = 0;
        }
    }
}

// ---- MaskOut8 ----

void mask8Row(const HsvLut& lut, quint32* px, int n, Hsv key, int tolH, int tolV) {
    for (int x = 0; x < n; ++x) {
        const PixelHsv c = lutHsv(lut, px[x]);
        const int ds = key.s - c.s;
        if (std::abs(key.h - c.h) < tolH && ds >= -5 && ds <= 5 && std::abs(key.v - c.v) < tolV &&
            c.v > 50) {
            px[x] = 0;
        }
    }
}

}  // namespace

void maskOut10(QImage& img, QRgb, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const HsvLut& lut = detail::hsvLut();
    const HueBands bands = s.backdrop == 1 ? kBlueBands : kGreenBands;
    const int w = img.width(), h = img.height();
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();

    // Backdrop estimate from rows 0, 2, 4, ... below h / 3, every second column.
    const int sampleRows = (h / 3 + 1) / 2;
    const int nb = detail::bandCount(sampleRows, (w + 1) / 2);
    std::vector<Sums> partial(std::max(nb, 1));
    detail::runBands(sampleRows, nb, [&](int band, int first, int last) {
        for (int k = first; k < last; ++k) {
            const auto* row = reinterpret_cast<const quint32*>(bits + qsizetype(2 * k) * bpl);
            sampleRow(lut, row, w, bands.sampleLo, bands.sampleHi, partial[band]);
        }
    });
    Sums total;
    for (const Sums& p : partial) {
        total.h += p.h;
        total.s += p.s;
        total.v += p.v;
        total.count += p.count;
    }
    const qint64 count = total.count == 0 ? 1 : total.count;

    int spillSat[256];
    const float d = spillDivisor(s.spill);
    for (int sat = 0; sat < 256; ++sat) {
        spillSat[sat] = int(float(sat) / d);
    }
    const Mask10Params prm{&lut,
                           bands,
                           int(total.h / count),
                           int(total.s / count),
                           int(total.v / count),
                           s.fine + 20,
                           s.fine + 50,
                           s.fine + 50,
                           s.correctSpill,
                           spillSat};
    forEachRow(img, [&](quint32* row, int n) { mask10Row(row, n, prm); });
}

void maskOut9(QImage& img, QRgb, const KeySettings& s) {
    qDebug("Running Maskout9");
    if (!toArgb32(img)) {
        return;
    }
    const HsvLut& lut = detail::hsvLut();
    const int valueFloor = s.coarse + 80, satFloor = s.fine + 220;
    forEachRow(img, [&](quint32* row, int n) { mask9Row(lut, row, n, valueFloor, satFloor); });
}

void maskOut8(QImage& img, QRgb key, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const HsvLut& lut = detail::hsvLut();
    const Hsv k = rgbToHsv(key);
    const int tolH = s.fine + 19, tolV = s.coarse + 88;
    forEachRow(img, [&](quint32* row, int n) { mask8Row(lut, row, n, k, tolH, tolV); });
}

}  // namespace keying
