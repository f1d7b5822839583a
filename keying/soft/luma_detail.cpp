#include "keying/soft/luma_detail.h"

#include <algorithm>

#include "core/rows.h"

namespace keying::soft {

void lumaSteps(const Photo& img, bool blue, Grid& g, const SoftKeyParams& p) {
    const Luma l = lumaWeights(blue);
    const int stride = std::max(4, g.size / int(p.lumaPatchesPerCell));
    const float minKey = float(p.minKeyExcess);
    const float low = float(p.subjectExcessLow), high = float(p.subjectExcessHigh);
    const int W = img.width, H = img.height;
    core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                const float wr = redWeight(cell.sr, cell.so, p);
                const float ke = std::max(minKey, weightedExcess(cell.r, cell.k, cell.o, wr));
                const float fe =
                    std::clamp(weightedExcess(cell.sr, cell.sk, cell.so, wr), low * ke, high * ke);
                double se = 0, sy = 0, see = 0, syy = 0, sey = 0;
                int n = 0;
                const int x1 = std::min(W, (bx + 1) * g.size) - 4;
                const int y1 = std::min(H, (by + 1) * g.size) - 4;
                for (int y = by * g.size; y <= y1; y += stride) {
                    const quint32* row0 = img.row(y);
                    const quint32* row1 = img.row(y + 2);
                    for (int x = bx * g.size; x <= x1; x += stride) {
                        float e = 0, lum = 0;
                        for (const quint32 px : {row0[x], row1[x + 2]}) {
                            const Channels c = split(px, blue);
                            e += weightedExcess(float(c.r), float(c.k), float(c.o), wr);
                            lum += lumaOf(l, float(c.r), float(c.k), float(c.o));
                        }
                        se += e, sy += lum, see += double(e) * e, syy += double(lum) * lum;
                        sey += double(e) * lum, ++n;
                    }
                }
                if (n < 4) {
                    continue;
                }
                // Sums of two samples each: the slope is the same, the spread twice.
                const double ve = see / n - (se / n) * (se / n);
                const double vy = syy / n - (sy / n) * (sy / n);
                const double cv = sey / n - (se / n) * (sy / n);
                const double spread = 2.0 * p.lumaMinSpread * ke;
                if (ve < spread * spread || cv * cv < p.lumaMinCorrelation * ve * vy) {
                    continue;
                }
                const float yK = lumaOf(l, cell.r, cell.k, cell.o);
                cell.sy = yK + float(cv / ve) * (fe - ke);
            }
        }
    });
}

}  // namespace keying::soft
