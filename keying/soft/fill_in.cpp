#include "keying/soft/fill_in.h"

#include <algorithm>
#include <cmath>

#include "core/rows.h"

namespace keying::soft {

bool solve6(double a[6][6], double b[6][3]) {
    for (int c = 0; c < 6; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 6; ++r) {
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (std::abs(a[pivot][c]) < 1e-12) {
            return false;
        }
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = 0; r < 6; ++r) {
            if (r == c) {
                continue;
            }
            const double m = a[r][c] / a[c][c];
            for (int q = c; q < 6; ++q) {
                a[r][q] -= m * a[c][q];
            }
            for (int k = 0; k < 3; ++k) {
                b[r][k] -= m * b[c][k];
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        b[0][k] /= a[0][0];
    }
    return true;
}

namespace {

// The fitted refinement; the ring fill is kept where the fit runs off.
void refineFilled(Grid& g, const std::vector<char>& measured, const SoftKeyParams& p) {
    const std::vector<float> depth = distanceToMeasured(measured, g.w, g.h);
    std::vector<Cell> out = g.cells;
    core::forEachRowBand(g.h, qint64(g.w) * 4096, [&](int y0, int y1) {
        for (int cy = y0; cy < y1; ++cy) {
            for (int cx = 0; cx < g.w; ++cx) {
                const size_t i = size_t(cy) * g.w + cx;
                if (measured[i] || depth[i] > 1e8f) {
                    continue;
                }
                const double sigma =
                    std::clamp(p.fitSigmaPerDepth * double(depth[i]), p.fitSigmaMin, p.fitSigmaMax);
                // A wide window is smooth enough to be read at every second or third cell.
                const int stride = sigma > 4.5 ? 3 : sigma > 2.5 ? 2 : 1;
                const int reach = int(std::ceil(2.5 * sigma / stride)) * stride;
                double a[6][6] = {}, b[6][3] = {}, total = 0;
                int used = 0;
                for (int y = cy - reach; y <= cy + reach; y += stride) {
                    for (int x = cx - reach; x <= cx + reach; x += stride) {
                        if (x < 0 || y < 0 || x >= g.w || y >= g.h) {
                            continue;
                        }
                        const size_t j = size_t(y) * g.w + x;
                        if (!measured[j]) {
                            continue;
                        }
                        const double u = (x - cx) / sigma, v = (y - cy) / sigma;
                        const double w = std::exp(-0.5 * (u * u + v * v));
                        const double f[6] = {1, u, v, u * u, u * v, v * v};
                        const double val[3] = {g.cells[j].r, g.cells[j].k, g.cells[j].o};
                        for (int r = 0; r < 6; ++r) {
                            for (int q = r; q < 6; ++q) {
                                a[r][q] += w * f[r] * f[q];
                            }
                            for (int c = 0; c < 3; ++c) {
                                b[r][c] += w * f[r] * val[c];
                            }
                        }
                        total += w, ++used;
                    }
                }
                if (used < 6) {
                    continue;  // too few cells to fit six terms
                }
                for (int r = 0; r < 6; ++r) {
                    for (int q = 0; q < r; ++q) {
                        a[r][q] = a[q][r];
                    }
                    // A little damping keeps a one-sided window from bending the fit.
                    a[r][r] +=
                        r == 0 ? 0.0 : total * double(r < 3 ? p.fitDampLinear : p.fitDampQuadratic);
                }
                if (!solve6(a, b)) {
                    continue;
                }
                float* dst[3] = {&out[i].r, &out[i].k, &out[i].o};
                for (int c = 0; c < 3; ++c) {
                    const double ring = *dst[c];
                    *dst[c] = float(std::clamp(b[0][c], ring * p.fitBelowRing,
                                               ring * p.fitAboveRing + p.fitAboveSlack));
                }
            }
        }
    });
    g.cells = std::move(out);
}

}  // namespace

void fillBackdrop(Grid& g, const std::vector<char>& measured, const SoftKeyParams& p) {
    std::vector<char> valid = measured;
    fillHoles(valid, g, kBackdropColour, 0.0f);
    refineFilled(g, measured, p);
}

}  // namespace keying::soft
