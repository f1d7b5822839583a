#include "keying/hsv_lut.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "keying/hsv.h"

namespace keying::detail {

namespace {

std::unique_ptr<HsvLut> buildHsvLut() {
    auto t = std::make_unique<HsvLut>();
    std::fill(std::begin(t->hue), std::end(t->hue), qint16(-1));
    for (int mx = 0; mx < 256; ++mx) {
        for (int mn = 0; mn <= mx; ++mn) {
            t->sat[mx * 256 + mn] = quint8(rgbToHsv(mx, mn, mn).s);
        }
    }
    // One representative colour per (sector, num, d), with the smallest channel 0.
    for (int d = 1; d < 256; ++d) {
        for (int num = -d; num <= d; ++num) {
            const int idx = d * (d + 1) + num;
            const int pos = num > 0 ? num : 0, neg = num < 0 ? -num : 0;
            // Red largest: num = g - b.
            t->hue[idx] = qint16(rgbToHsv(d, pos, neg).h);
            // Green largest, red smaller: num = b - r.
            if (neg < d) {
                t->hue[65536 + idx] = qint16(rgbToHsv(neg, d, pos).h);
            }
            // Blue largest, red and green smaller: num = r - g.
            if (pos < d && neg < d) {
                t->hue[2 * 65536 + idx] = qint16(rgbToHsv(pos, neg, d).h);
            }
        }
    }
    return t;
}

}  // namespace

const HsvLut& hsvLut() {
    static const std::unique_ptr<HsvLut> lut = buildHsvLut();
    return *lut;
}

}  // namespace keying::detail
