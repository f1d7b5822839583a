#include "keying/soft/backdrop_field.h"

#include <algorithm>
#include <array>

#include "core/rows.h"

namespace keying::soft {

float typicalBackdropRatio(const Photo& img, bool blue, const SoftKeyParams& p) {
    constexpr int kBins = 64;
    int hist[kBins] = {};
    int total = 0;
    const int step = std::max(1, std::min(img.width, img.height) / 256);
    for (int y = 0; y < img.height; y += step) {
        const quint32* row = img.row(y);
        for (int x = 0; x < img.width; x += step) {
            const Channels c = split(row[x], blue);
            const float e = float(clearExcess(c.r, c.k, c.o));
            if (float(c.k) < p.typicalMinKey || e <= float(p.typicalMinShare) * float(c.k)) {
                continue;
            }
            ++hist[std::min(kBins - 1, int(e / float(c.k) * kBins))];
            ++total;
        }
    }
    if (total == 0) {
        return -1.0f;
    }
    int seen = 0;
    for (int b = 0; b < kBins; ++b) {
        seen += hist[b];
        if (double(seen) >= p.typicalQuantile * double(total)) {
            return (float(b) + 0.5f) / kBins;
        }
    }
    return float(p.typicalFallback);
}

int sampleStep(const Grid& g, const SoftKeyParams& p) {
    return std::max(1, g.size / int(p.samplesPerCell));
}

bool usableBackdrop(float typical, const std::vector<char>& measured, const SoftKeyParams& p) {
    const auto count = std::count(measured.begin(), measured.end(), char(1));
    return typical >= float(p.usableShare) && count > 0 &&
           double(count) >= p.minBackdropCells * double(measured.size());
}

std::vector<char> measureBackdrop(const Photo& img, bool blue, float typical, Grid& g,
                                  const SoftKeyParams& p) {
    std::vector<char> measured(g.cells.size(), 0);
    const float share = typical < 0.0f ? float(p.typicalFallback) : typical;
    const float confident = float(p.backdropConfidence) * share;
    const int step = sampleStep(g, p);
    const size_t topOneIn = size_t(p.backdropTopOneIn);
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        std::vector<std::array<int, 4>> picked;  // excess, r, k, o
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                int samples = 0;
                picked.clear();
                visitCell(img, g, bx, by, step, blue, [&](Channels c) {
                    ++samples;
                    const int e = clearExcess(c.r, c.k, c.o);
                    if (float(c.k) >= p.backdropMinKey && float(e) >= confident * float(c.k)) {
                        picked.push_back({e, c.r, c.k, c.o});
                    }
                });
                if (double(picked.size()) < p.cellMinShare * samples || picked.size() < 2) {
                    continue;
                }
                // Any subject lowers the excess: only the samples near the cell's highest
                // (its top twentieth, as in a thicket few samples are clear backdrop) count.
                const auto top = picked.begin() + std::ptrdiff_t(picked.size() / topOneIn);
                std::nth_element(picked.begin(), top, picked.end(),
                                 [](const auto& a, const auto& b) { return a[0] > b[0]; });
                const float least =
                    float((*top)[0]) * float(p.backdropTopRatio) - float(p.backdropTopSlack);
                double sum[3] = {0, 0, 0};
                int n = 0;
                for (const auto& s : picked) {
                    if (float(s[0]) >= least) {
                        sum[0] += s[1], sum[1] += s[2], sum[2] += s[3], ++n;
                    }
                }
                if (n == 0) {
                    continue;
                }
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                cell.r = float(sum[0] / n), cell.k = float(sum[1] / n), cell.o = float(sum[2] / n);
                measured[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    return measured;
}

}  // namespace keying::soft
