// HSV keyers: MaskOut10 (backdrop estimate, then keying with spill correction), MaskOut9
// (fixed green bands) and MaskOut8 (close to the key colour). Pixels are converted with the
// integer form of rgbToHsv, which gives the same values.
#include <QDebug>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "keying/hsv.h"
#include "keying/hsv_fast.h"
#include "keying/keyer.h"
#include "keying/pixels.h"

namespace keying {

namespace {

using detail::fastHsv;
using detail::forEachRow;
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

// Adds pixels 0, 2, 4, ... of one row whose hue lies in [lo, hi].
KEYING_KERNEL void sampleRow(const quint32* px, int n, int lo, int hi, Sums& out) {
    qint64 sh = 0, ss = 0, sv = 0, count = 0;
    for (int x = 0; x < n; x += 2) {
        const PixelHsv c = fastHsv(px[x]);
        const int in = (c.h >= lo) & (c.h <= hi);
        sh += c.h & -in;
        ss += c.s & -in;
        sv += c.v & -in;
        count += in;
    }
    out.h += sh;
    out.s += ss;
    out.v += sv;
    out.count += count;
}

struct Mask10Params {
    HueBands bands;
    int meanH, meanS, meanV;
    int tolH, tolS, tolV;
};

// Keys one row; with Mark, also marks the gated pixels that no rule keyed out.
template <bool Mark>
inline __attribute__((always_inline)) void mask10Body(quint32* px, int n, const Mask10Params& prm,
                                                      quint8* survivors) {
    const int gateLo = prm.bands.gateLo, gateHi = prm.bands.gateHi;
    const int coreLo = prm.bands.coreLo, coreHi = prm.bands.coreHi;
    const int meanH = prm.meanH, meanS = prm.meanS, meanV = prm.meanV;
    const int tolH = prm.tolH, tolS = prm.tolS, tolV = prm.tolV;
    for (int x = 0; x < n; ++x) {
        const quint32 p = px[x];
        const PixelHsv c = fastHsv(p);
        const int gated = (c.h >= gateLo) & (c.h <= gateHi) & (c.v > 30) & (c.s > 30);
        const int vivid = (c.s > 189) & (c.v > 189);
        const int core = (c.h >= coreLo) & (c.h <= coreHi) & (c.v > 95) & (c.s > 95);
        const int close = (std::abs(c.h - meanH) < tolH) & (std::abs(c.s - meanS) < tolS) &
                          (std::abs(c.v - meanV) < tolV);
        const int keyed = gated & (vivid | core | close);
        px[x] = keyed ? 0u : p;
        if constexpr (Mark) {
            survivors[x] = quint8(gated & (keyed ^ 1));
        }
    }
}

KEYING_KERNEL void mask10Row(quint32* px, int n, const Mask10Params& prm) {
    mask10Body<false>(px, n, prm, nullptr);
}

KEYING_KERNEL void mask10RowMarking(quint32* px, int n, const Mask10Params& prm,
                                    quint8* survivors) {
    mask10Body<true>(px, n, prm, survivors);
}

float spillDivisor(int spill) {
    if (spill == 0) {
        return 1.2f;
    }
    return float(double(float(spill) / 10.0f) + 1.1);
}

// ---- MaskOut9 ----

KEYING_KERNEL void mask9Row(quint32* px, int n, int valueFloor, int satFloor) {
    for (int x = 0; x < n; ++x) {
        const quint32 p = px[x];
        const PixelHsv c = fastHsv(p);
        const int gate = (c.h >= 66) & (c.h <= 174);
        const int vivid = (c.s > 189) & (c.v > 189);
        const int core = (c.h >= 106) & (c.h <= 139) & (c.v > 95) & (c.s > 95);
        const int tuned = (c.h >= 70) & (c.h <= 105) & (c.v >= valueFloor) & (c.s >= satFloor);
        px[x] = (gate & (vivid | core | tuned)) ? 0u : p;
    }
}

// ---- MaskOut8 ----

KEYING_KERNEL void mask8Row(quint32* px, int n, int kh, int ks, int kv, int tolH, int tolV) {
    for (int x = 0; x < n; ++x) {
        const quint32 p = px[x];
        const PixelHsv c = fastHsv(p);
        const int ds = ks - c.s;
        const int keyed = (std::abs(kh - c.h) < tolH) & (ds >= -5) & (ds <= 5) &
                          (std::abs(kv - c.v) < tolV) & (c.v > 50);
        px[x] = keyed ? 0u : p;
    }
}

}  // namespace

void maskOut10(QImage& img, QRgb, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const HueBands bands = s.backdrop == Backdrop::Blue ? kBlueBands : kGreenBands;
    const int w = img.width(), h = img.height();
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();

    // Backdrop estimate from rows 0, 2, 4, ... above h / 3, every second column. Sums are
    // 64-bit: a 32-bit hue sum overflows from about 8 million samples.
    const int sampleRows = (h / 3 + 1) / 2;
    const std::vector<core::RowBand> sampleBands = core::rowBands(sampleRows, (w + 1) / 2);
    std::vector<Sums> partial(std::max<size_t>(sampleBands.size(), 1));
    core::runBands(sampleBands, [&](size_t band, const core::RowBand& b) {
        for (int k = b.first; k < b.last; ++k) {
            const auto* row = reinterpret_cast<const quint32*>(bits + qsizetype(2 * k) * bpl);
            sampleRow(row, w, bands.sampleLo, bands.sampleHi, partial[band]);
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
    const Mask10Params prm{
        bands,       int(total.h / count), int(total.s / count), int(total.v / count),
        s.fine + 20, s.fine + 50,          s.fine + 50};

    if (!s.correctSpill) {
        forEachRow(img, [&](quint32* row, int n) { mask10Row(row, n, prm); });
        return;
    }
    // Spill correction of the survivors: saturation divided by d (a float), alpha 248.
    int spillSat[256];
    const float d = spillDivisor(s.spill);
    for (int sat = 0; sat < 256; ++sat) {
        spillSat[sat] = int(float(sat) / d);
    }
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        std::vector<quint8> survivors(static_cast<size_t>(w));
        for (int y = y0; y < y1; ++y) {
            auto* row = reinterpret_cast<quint32*>(bits + qsizetype(y) * bpl);
            mask10RowMarking(row, w, prm, survivors.data());
            for (int x = 0; x < w; ++x) {
                if (survivors[size_t(x)]) {
                    const PixelHsv c = fastHsv(row[x]);
                    row[x] = hsvToRgb(c.h, spillSat[c.s], c.v, 248);
                }
            }
        }
    });
}

void maskOut9(QImage& img, QRgb, const KeySettings& s) {
    qDebug("Running Maskout9");
    if (!toArgb32(img)) {
        return;
    }
    const int valueFloor = s.coarse + 80, satFloor = s.fine + 220;
    forEachRow(img, [&](quint32* row, int n) { mask9Row(row, n, valueFloor, satFloor); });
}

void maskOut8(QImage& img, QRgb key, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const Hsv k = rgbToHsv(key);
    const int tolH = s.fine + 19, tolV = s.coarse + 88;
    forEachRow(img, [&](quint32* row, int n) { mask8Row(row, n, k.h, k.s, k.v, tolH, tolV); });
}

}  // namespace keying
