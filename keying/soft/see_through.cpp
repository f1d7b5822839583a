#include "keying/soft/see_through.h"

#include <algorithm>
#include <array>

#include "core/rows.h"

namespace keying::soft {

void seeThrough(Grid& g, const std::vector<char>& measured, const Photo& img, bool blue, int step,
                const SoftKeyParams& p) {
    const size_t n = g.cells.size();
    std::vector<std::array<float, 4>> mean(n);  // r, k, o and the classic alpha
    std::vector<char> layer(n, 0);
    const float minKey = float(p.layerMinKey);
    const double spread = p.layerSpread;
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                const size_t i = size_t(by) * g.w + bx;
                const Cell& c = g.cells[i];
                const float ke = meanExcess(c.r, c.k, c.o);
                if (measured[i] || ke < minKey) {
                    continue;
                }
                double sa = 0, saa = 0, sum[3] = {0, 0, 0};
                int count = 0;
                const int x1 = std::min(img.width, (bx + 1) * g.size);
                const int y1 = std::min(img.height, (by + 1) * g.size);
                for (int y = by * g.size; y < y1; y += step) {
                    const quint32* row = img.row(y);
                    for (int x = bx * g.size; x < x1; x += step) {
                        const Channels s = split(row[x], blue);
                        const double a = (ke - meanExcess(float(s.r), float(s.k), float(s.o))) / ke;
                        sa += a, saa += a * a, ++count;
                        sum[0] += s.r, sum[1] += s.k, sum[2] += s.o;
                    }
                }
                if (count < 4) {
                    continue;
                }
                const double a = sa / count;
                mean[i] = {float(sum[0] / count), float(sum[1] / count), float(sum[2] / count),
                           float(a)};
                layer[i] = a > p.layerMinAlpha && a < p.layerMaxAlpha &&
                           saa / count - a * a < spread * spread;
            }
        }
    });
    const std::vector<float> depth = distanceToMeasured(measured, g.w, g.h);
    const std::vector<Cell> fill = g.cells;
    std::vector<char> seen(n, 0), read(n, 0);  // read: the backdrop read through a patch
    std::vector<size_t> patch, stack;
    for (size_t first = 0; first < n; ++first) {
        if (!layer[first] || seen[first]) {
            continue;
        }
        patch.clear();
        stack.assign(1, first);
        seen[first] = 1;
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            patch.push_back(i);
            const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
            for (int ny = std::max(0, y - 1); ny <= std::min(g.h - 1, y + 1); ++ny) {
                for (int nx = std::max(0, x - 1); nx <= std::min(g.w - 1, x + 1); ++nx) {
                    const size_t j = size_t(ny) * g.w + nx;
                    if (layer[j] && !seen[j]) {
                        seen[j] = 1;
                        stack.push_back(j);
                    }
                }
            }
        }
        // A patch of a few cells is too small to tell a layer from a uniform solid.
        if (double(patch.size()) < p.layerMinCells) {
            continue;
        }
        // The rim: cells beside a measured one; a patch with none keeps its fill.
        double k0[3] = {0, 0, 0}, p0[3] = {0, 0, 0}, a = 0;
        int rim = 0;
        for (size_t i : patch) {
            if (depth[i] < float(p.layerRimDepth)) {
                const Cell& c = g.cells[i];
                k0[0] += c.r, k0[1] += c.k, k0[2] += c.o;
                for (int q = 0; q < 3; ++q) {
                    p0[q] += mean[i][q];
                }
                a += mean[i][3], ++rim;
            }
        }
        if (rim == 0) {
            continue;
        }
        const double gain = 1.0 / (1.0 - a / rim);
        for (size_t i : patch) {
            Cell& c = g.cells[i];
            float* dst[3] = {&c.r, &c.k, &c.o};
            for (int q = 0; q < 3; ++q) {
                *dst[q] = float(k0[q] / rim + gain * (mean[i][q] - p0[q] / rim));
            }
            read[i] = 1;
        }
    }
    // A filled cell beside such a patch but not of it (a label, a highlight on the glass)
    // takes the mean correction of its neighbours in it.
    std::vector<Cell> out = g.cells;
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (measured[i] || read[i]) {
                continue;
            }
            float d[3] = {0, 0, 0};
            int count = 0;
            for (int y = std::max(0, cy - 1); y <= std::min(g.h - 1, cy + 1); ++y) {
                for (int x = std::max(0, cx - 1); x <= std::min(g.w - 1, cx + 1); ++x) {
                    const size_t j = size_t(y) * g.w + x;
                    if (read[j]) {
                        d[0] += g.cells[j].r - fill[j].r, d[1] += g.cells[j].k - fill[j].k;
                        d[2] += g.cells[j].o - fill[j].o, ++count;
                    }
                }
            }
            if (count > 0) {
                out[i].r += d[0] / float(count), out[i].k += d[1] / float(count);
                out[i].o += d[2] / float(count);
            }
        }
    }
    g.cells = std::move(out);
}

}  // namespace keying::soft
