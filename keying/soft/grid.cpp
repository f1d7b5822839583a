#include "keying/soft/grid.h"

#include <algorithm>
#include <cmath>

namespace keying::soft {

Grid makeGrid(int width, int height, const SoftKeyParams& p) {
    Grid g;
    const int across = int(p.gridCells);
    g.size = std::max(int(p.minCellPixels), (std::max(width, height) + across - 1) / across);
    g.w = (width + g.size - 1) / g.size;
    g.h = (height + g.size - 1) / g.size;
    g.cells.assign(size_t(g.w) * size_t(g.h), Cell());
    return g;
}

void fillHoles(std::vector<char>& valid, Grid& g, const CellColour& colour, float fallback) {
    const int n = g.w * g.h;
    if (std::none_of(valid.begin(), valid.end(), [](char v) { return v != 0; })) {
        for (Cell& c : g.cells) {
            c.*colour[0] = c.*colour[1] = c.*colour[2] = fallback;
        }
        return;
    }
    std::vector<int> ring;
    for (;;) {
        ring.clear();
        for (int i = 0; i < n; ++i) {
            if (valid[size_t(i)]) {
                continue;
            }
            const int x = i % g.w, y = i / g.w;
            std::array<float, 3> sum = {0, 0, 0};
            int count = 0;
            for (int ny = std::max(0, y - 1); ny <= std::min(g.h - 1, y + 1); ++ny) {
                for (int nx = std::max(0, x - 1); nx <= std::min(g.w - 1, x + 1); ++nx) {
                    if (valid[size_t(ny) * g.w + nx]) {
                        const Cell& v = g.cells[size_t(ny) * g.w + nx];
                        for (int c = 0; c < 3; ++c) {
                            sum[c] += v.*colour[c];
                        }
                        ++count;
                    }
                }
            }
            if (count > 0) {
                Cell& c = g.cells[size_t(i)];
                for (int q = 0; q < 3; ++q) {
                    c.*colour[q] = sum[q] / float(count);
                }
                ring.push_back(i);
            }
        }
        for (int i : ring) {
            valid[size_t(i)] = 1;
        }
        if (ring.empty()) {
            return;
        }
    }
}

void sanitiseFields(Grid& g, float fallback) {
    for (Cell& c : g.cells) {
        for (float* v : {&c.r, &c.k, &c.o, &c.sr, &c.sk, &c.so, &c.sy}) {
            *v = std::isnan(*v) ? fallback : std::clamp(*v, -kFieldLimit, kFieldLimit);
        }
    }
}

std::vector<float> distanceToMeasured(const std::vector<char>& measured, int gw, int gh) {
    constexpr float kFar = 1e9f, kDiagonal = 1.41421356f;
    std::vector<float> d(measured.size());
    for (size_t i = 0; i < d.size(); ++i) {
        d[i] = measured[i] ? 0.0f : kFar;
    }
    auto relax = [&](int x, int y, int dx, int dy, float step) {
        const int nx = x + dx, ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < gw && ny < gh) {
            float& v = d[size_t(y) * gw + x];
            v = std::min(v, d[size_t(ny) * gw + nx] + step);
        }
    };
    for (int y = 0; y < gh; ++y) {
        for (int x = 0; x < gw; ++x) {
            relax(x, y, -1, 0, 1.0f), relax(x, y, 0, -1, 1.0f);
            relax(x, y, -1, -1, kDiagonal), relax(x, y, 1, -1, kDiagonal);
        }
    }
    for (int y = gh - 1; y >= 0; --y) {
        for (int x = gw - 1; x >= 0; --x) {
            relax(x, y, 1, 0, 1.0f), relax(x, y, 0, 1, 1.0f);
            relax(x, y, 1, 1, kDiagonal), relax(x, y, -1, 1, kDiagonal);
        }
    }
    return d;
}

}  // namespace keying::soft
