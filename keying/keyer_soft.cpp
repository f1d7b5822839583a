// Magic Number 10: a soft key against a locally estimated backdrop.
//
// A studio backdrop is never one colour: hot spots, fall-off, folds and the subject's own
// shadow change it across the frame. So the backdrop is estimated as a smooth field on a
// coarse grid, read between block centres by bilinear interpolation. A block's value is the
// mean of its confidently-backdrop samples whose excess comes close to the block's highest, so
// that faint mixes (a thicket of strands) do not darken it. Blocks the subject covers are
// filled ring by ring from their neighbours, then refined by a quadratic fitted to the
// measured blocks around them, so that a hot spot behind glass keeps its curvature. Where a
// filled patch reads throughout as one even partial mix (glass, smoke), the backdrop is read
// through it: the patch's colour follows the backdrop's behind it, scaled by 1 / (1 - a).
//
// Coverage is a linear colour-difference key against that field. With the key channel k
// (green or blue) and the two others r and o, the excess e = k - (r + o) / 2 mixes linearly,
// so a pixel that is a mix of subject F and backdrop K has e = a e(F) + (1 - a) e(K) and
// a = (e(K) - e) / (e(K) - e(F)). e(F) comes from a second coarse field: the mean of each
// block's most subject-like samples (or, where those are only mixes of a more subject-like
// colour close by, that colour), carried out to every block from the nearest that show it.
// Where the neutral subject of the classic key explains a mixed pixel's colour better
// than that field (glass beside its label), it is used instead.
//
// A JPEG keeps colour at half resolution, so that key alone blurs thin strands. Where a pixel
// is mixed, the detail of that alpha above a 5 x 5 blur is swapped for the same detail of a
// luma alpha (luma keeps full resolution), scaled by the luma step from backdrop to subject.
// That step is the pixel's own, its blurred luma against its blurred alpha, where that alpha
// is large enough to tell it; a field's where it is not: where a block holds mixes enough,
// the step that goes with the key's e(F) as the block's own luma against excess shows it,
// else the step to the nearest solid part's luma.
// The last 5% at either end is clipped as noise: steeply where the chroma is smooth, so that
// a smeared rim keeps its level, by a plain ramp where it carries detail.
//
// Partly covered pixels get the backdrop taken out, F = (P - (1 - a) K) / a, and whatever key
// colour is left is clipped to the larger other channel; over a new background that leaves
// neither a coloured rim nor a dark halo.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "keying/keyer.h"
#include "keying/pixels.h"

namespace keying {

namespace {

using detail::toArgb32;

struct Channels {
    int r, k, o;  // red, the key channel, the other one
};

inline Channels split(quint32 p, bool blue) {
    const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
    return blue ? Channels{r, b, g} : Channels{r, g, b};
}

// One grid cell: the backdrop colour and the subject's excess around it.
struct Cell {
    float r = 0, k = 0, o = 0;     // backdrop
    float sr = 0, sk = 0, so = 0;  // subject
    float sy = 0;                  // subject luma, from the nearest subject seen
};

// Fills the cells not marked valid with the mean of their valid neighbours, ring by ring
// inwards, so that an area the subject covers takes what is seen around it. With nothing
// valid at all every cell becomes `fallback`.
template <class Get, class Set>
void fillHoles(std::vector<char>& valid, int gw, int gh, Get get, Set set, float fallback) {
    const int n = gw * gh;
    if (std::none_of(valid.begin(), valid.end(), [](char v) { return v != 0; })) {
        for (int i = 0; i < n; ++i) {
            set(i, {fallback, fallback, fallback});
        }
        return;
    }
    std::vector<int> ring;
    for (;;) {
        ring.clear();
        for (int i = 0; i < n; ++i) {
            if (valid[i]) {
                continue;
            }
            const int x = i % gw, y = i / gw;
            std::array<float, 3> sum = {0, 0, 0};
            int count = 0;
            for (int ny = std::max(0, y - 1); ny <= std::min(gh - 1, y + 1); ++ny) {
                for (int nx = std::max(0, x - 1); nx <= std::min(gw - 1, x + 1); ++nx) {
                    if (valid[ny * gw + nx]) {
                        const auto v = get(ny * gw + nx);
                        for (int c = 0; c < 3; ++c) {
                            sum[c] += v[c];
                        }
                        ++count;
                    }
                }
            }
            if (count > 0) {
                set(i, {sum[0] / float(count), sum[1] / float(count), sum[2] / float(count)});
                ring.push_back(i);
            }
        }
        for (int i : ring) {
            valid[i] = 1;
        }
        if (ring.empty()) {
            return;
        }
    }
}

// The backdrop's share of the key channel (e / k) typical of the photo: the upper quartile of
// clearly key-coloured samples, so it holds with half the frame taken by the subject.
float typicalBackdropRatio(const QImage& img, bool blue) {
    constexpr int kBins = 64;
    int hist[kBins] = {};
    int total = 0;
    const int step = std::max(1, std::min(img.width(), img.height()) / 256);
    for (int y = 0; y < img.height(); y += step) {
        const auto* row = reinterpret_cast<const quint32*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); x += step) {
            const Channels c = split(row[x], blue);
            const float e = float(c.k - std::max(c.r, c.o));
            if (c.k < 24 || e <= 0.15f * float(c.k)) {
                continue;
            }
            ++hist[std::min(kBins - 1, int(e / float(c.k) * kBins))];
            ++total;
        }
    }
    if (total == 0) {
        return 0.5f;
    }
    int seen = 0;
    for (int b = 0; b < kBins; ++b) {
        seen += hist[b];
        if (seen * 4 >= total * 3) {
            return (float(b) + 0.5f) / kBins;
        }
    }
    return 0.5f;
}

struct Luma {
    float r, k, o;
};

inline Luma lumaWeights(bool blue) {
    return blue ? Luma{0.299f, 0.114f, 0.587f} : Luma{0.299f, 0.587f, 0.114f};
}

struct Grid {
    int size = 0;  // block edge in pixels
    int w = 0, h = 0;
    std::vector<Cell> cells;
};

// fillHoles over one of the colours a cell holds: the backdrop's {&Cell::r, &Cell::k, &Cell::o}
// or the subject's.
void fillCellColour(std::vector<char>& valid, Grid& g, const std::array<float Cell::*, 3>& colour,
                    float fallback) {
    fillHoles(
        valid, g.w, g.h,
        [&](int i) {
            const Cell& c = g.cells[size_t(i)];
            return std::array<float, 3>{c.*colour[0], c.*colour[1], c.*colour[2]};
        },
        [&](int i, std::array<float, 3> v) {
            Cell& c = g.cells[size_t(i)];
            c.*colour[0] = v[0], c.*colour[1] = v[1], c.*colour[2] = v[2];
        },
        fallback);
}

// How far each cell lies from the nearest measured one, in cells (chamfer, two passes).
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

// Solves a x = b for three right-hand sides by elimination with partial pivoting; false if
// a is singular.
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

// A ring mean flattens what it fills: under a subject the size of a bottle a hot spot's
// curvature is lost. So each filled backdrop cell takes a quadratic fitted to the measured
// cells around it, weighted by distance over a window as wide as the hole is deep there
// (within bounds, for the cost), and kept near the ring mean where the fit runs off.
void refineFilled(Grid& g, const std::vector<char>& measured) {
    const std::vector<float> depth = distanceToMeasured(measured, g.w, g.h);
    std::vector<Cell> out = g.cells;
    core::forEachRowBand(g.h, qint64(g.w) * 4096, [&](int y0, int y1) {
        for (int cy = y0; cy < y1; ++cy) {
            for (int cx = 0; cx < g.w; ++cx) {
                const size_t i = size_t(cy) * g.w + cx;
                if (measured[i] || depth[i] > 1e8f) {
                    continue;
                }
                const double sigma = std::clamp(1.4 * double(depth[i]), 2.0, 6.0);
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
                        for (int p = 0; p < 6; ++p) {
                            for (int q = p; q < 6; ++q) {
                                a[p][q] += w * f[p] * f[q];
                            }
                            for (int c = 0; c < 3; ++c) {
                                b[p][c] += w * f[p] * val[c];
                            }
                        }
                        total += w, ++used;
                    }
                }
                if (used < 6) {
                    continue;
                }
                for (int p = 0; p < 6; ++p) {
                    for (int q = 0; q < p; ++q) {
                        a[p][q] = a[q][p];
                    }
                    // A little damping keeps a one-sided window from bending the fit.
                    a[p][p] += p == 0 ? 0.0 : total * (p < 3 ? 1e-3 : 0.05);
                }
                if (!solve6(a, b)) {
                    continue;
                }
                float* dst[3] = {&out[i].r, &out[i].k, &out[i].o};
                for (int c = 0; c < 3; ++c) {
                    const double ring = *dst[c];
                    *dst[c] = float(std::clamp(b[0][c], ring * 0.7, ring * 1.3 + 1.0));
                }
            }
        }
    });
    g.cells = std::move(out);
}

// Glass, smoke or a veil over a filled area shows the backdrop through it: a cell whose
// samples all read as one partial mix against the filled backdrop (neither backdrop nor
// solid, and alike) is taken to be such a layer, the same colour and cover a throughout a
// connected patch of them. Its mean P = a F + (1 - a) K then follows the backdrop behind it,
// K = K0 + (P - P0) / (1 - a), so the patch takes the hot spot and the folds that a fill from
// its rim cannot know. K0, P0 and a are read on the patch's rim, next to the measured
// backdrop, where the fill is surest.
void seeThrough(Grid& g, const std::vector<char>& measured, const QImage& img, bool blue,
                int step) {
    const size_t n = g.cells.size();
    std::vector<std::array<float, 4>> mean(n);  // r, k, o and the classic alpha
    std::vector<char> layer(n, 0);
    core::forEachRowBand(g.h, qint64(img.width()) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                const size_t i = size_t(by) * g.w + bx;
                const Cell& c = g.cells[i];
                const float ke = c.k - 0.5f * (c.r + c.o);
                if (measured[i] || ke < 16.0f) {
                    continue;
                }
                double sa = 0, saa = 0, sum[3] = {0, 0, 0};
                int count = 0;
                const int x1 = std::min(img.width(), (bx + 1) * g.size);
                const int y1 = std::min(img.height(), (by + 1) * g.size);
                for (int y = by * g.size; y < y1; y += step) {
                    const auto* row = reinterpret_cast<const quint32*>(img.constScanLine(y));
                    for (int x = bx * g.size; x < x1; x += step) {
                        const Channels p = split(row[x], blue);
                        const double a = (ke - (float(p.k) - 0.5f * float(p.r + p.o))) / ke;
                        sa += a, saa += a * a, ++count;
                        sum[0] += p.r, sum[1] += p.k, sum[2] += p.o;
                    }
                }
                if (count < 4) {
                    continue;
                }
                const double a = sa / count, spread = 0.05;
                mean[i] = {float(sum[0] / count), float(sum[1] / count), float(sum[2] / count),
                           float(a)};
                layer[i] = a > 0.1 && a < 0.7 && saa / count - a * a < spread * spread;
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
        if (patch.size() < 6) {
            continue;
        }
        // The rim: cells beside a measured one; a patch with none keeps its fill.
        double k0[3] = {0, 0, 0}, p0[3] = {0, 0, 0}, a = 0;
        int rim = 0;
        for (size_t i : patch) {
            if (depth[i] < 1.5f) {
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

// A cell's most subject-like samples are still mixes where strands or a smeared rim fill it.
// Such a colour lies on the line from the cell's backdrop to that of a more subject-like
// part nearby, short of it; a different colour (another leaf) lies off it. So a cell whose
// subject lies within a few levels of that line, at most 85% of the way, takes the most
// subject-like of the valid cells up to two away.
void unmixSubjects(Grid& g, const std::vector<char>& valid) {
    constexpr int kReach = 2;
    constexpr float kOffLine = 5.0f, kShort = 0.85f;
    std::vector<Cell> out = g.cells;
    auto excess = [](const Cell& c) { return c.sk - std::max(c.sr, c.so); };
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (!valid[i]) {
                continue;
            }
            size_t best = i;
            for (int y = std::max(0, cy - kReach); y <= std::min(g.h - 1, cy + kReach); ++y) {
                for (int x = std::max(0, cx - kReach); x <= std::min(g.w - 1, cx + kReach); ++x) {
                    const size_t j = size_t(y) * g.w + x;
                    if (valid[j] && excess(g.cells[j]) < excess(g.cells[best])) {
                        best = j;
                    }
                }
            }
            const Cell &c = g.cells[i], &f = g.cells[best];
            const float v[3] = {f.sr - c.r, f.sk - c.k, f.so - c.o};
            const float u[3] = {c.sr - c.r, c.sk - c.k, c.so - c.o};
            const float vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
            if (best == i || vv < 1.0f) {
                continue;
            }
            const float t = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / vv;
            float off = 0;
            for (int q = 0; q < 3; ++q) {
                off += (u[q] - t * v[q]) * (u[q] - t * v[q]);
            }
            if (t < kShort && off < kOffLine * kOffLine) {
                out[i].sr = f.sr, out[i].sk = f.sk, out[i].so = f.so;
            }
        }
    }
    g.cells = std::move(out);
}

Grid estimateFields(const QImage& img, bool blue) {
    Grid g;
    const int W = img.width(), H = img.height();
    g.size = std::max(8, (std::max(W, H) + 63) / 64);
    g.w = (W + g.size - 1) / g.size;
    g.h = (H + g.size - 1) / g.size;
    g.cells.assign(size_t(g.w) * g.h, Cell());
    std::vector<char> backdropValid(g.cells.size(), 0), subjectValid(g.cells.size(), 0);
    const float confident = 0.8f * typicalBackdropRatio(img, blue);
    // Block means need a dozen samples a side, not every pixel.
    const int step = std::max(1, g.size / 12);

    auto visit = [&](int bx, int by, auto&& f) {
        const int x1 = std::min(W, (bx + 1) * g.size), y1 = std::min(H, (by + 1) * g.size);
        for (int y = by * g.size; y < y1; y += step) {
            const auto* row = reinterpret_cast<const quint32*>(img.constScanLine(y));
            for (int x = bx * g.size; x < x1; x += step) {
                f(split(row[x], blue));
            }
        }
    };

    // Backdrop: the mean of the samples whose key share is clearly the backdrop's. The share
    // does not change with brightness, so fall-off and shadows count; see-through or
    // key-tinted parts of the subject fall short of it. Faint mixes (a thicket of strands)
    // still pass that test and would darken the mean, but any subject lowers the excess: so
    // only the samples whose excess comes close to the block's highest (its top twentieth, as
    // in a thicket few samples are clear backdrop, less the room that noise and shading
    // inside one block take) make the mean.
    core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
        std::vector<std::array<int, 4>> picked;  // excess, r, k, o
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                int samples = 0;
                picked.clear();
                visit(bx, by, [&](Channels c) {
                    ++samples;
                    const int e = c.k - std::max(c.r, c.o);
                    if (c.k >= 16 && float(e) >= confident * float(c.k)) {
                        picked.push_back({e, c.r, c.k, c.o});
                    }
                });
                if (picked.size() * 8 < size_t(samples) || picked.size() < 2) {
                    continue;
                }
                const auto top = picked.begin() + std::ptrdiff_t(picked.size() / 20);
                std::nth_element(picked.begin(), top, picked.end(),
                                 [](const auto& a, const auto& b) { return a[0] > b[0]; });
                const float least = float((*top)[0]) * 0.94f - 4.0f;
                double sum[3] = {0, 0, 0};
                int n = 0;
                for (const auto& p : picked) {
                    if (float(p[0]) >= least) {
                        sum[0] += p[1], sum[1] += p[2], sum[2] += p[3], ++n;
                    }
                }
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                cell.r = float(sum[0] / n), cell.k = float(sum[1] / n), cell.o = float(sum[2] / n);
                backdropValid[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    const std::vector<char> measured = backdropValid;
    fillCellColour(backdropValid, g, {&Cell::r, &Cell::k, &Cell::o}, 0.0f);
    refineFilled(g, measured);
    seeThrough(g, measured, img, blue, step);

    // The subject: the mean colour of the samples that clearly are not backdrop and, as with
    // the backdrop, close to the most subject-like of them (the lower decile of the excess),
    // so that the strands' faint mixes about a head do not pull it towards the backdrop.
    core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
        std::vector<std::array<int, 4>> picked;  // excess, r, k, o
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                const float ke = cell.k - std::max(cell.r, cell.o);
                int samples = 0;
                picked.clear();
                visit(bx, by, [&](Channels c) {
                    ++samples;
                    const int e = c.k - std::max(c.r, c.o);
                    if (float(e) <= 0.1f * ke) {
                        picked.push_back({e, c.r, c.k, c.o});
                    }
                });
                if (picked.size() * 8 < size_t(samples) || picked.empty()) {
                    continue;
                }
                const auto decile = picked.begin() + std::ptrdiff_t(picked.size() / 10);
                std::nth_element(picked.begin(), decile, picked.end(),
                                 [](const auto& a, const auto& b) { return a[0] < b[0]; });
                const float most = float((*decile)[0]) + 0.2f * ke;
                double sum[3] = {0, 0, 0};
                int n = 0;
                for (const auto& p : picked) {
                    if (float(p[0]) <= most) {
                        sum[0] += p[1], sum[1] += p[2], sum[2] += p[3], ++n;
                    }
                }
                cell.sr = float(sum[0] / n), cell.sk = float(sum[1] / n);
                cell.so = float(sum[2] / n);
                subjectValid[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    // Strands and smeared rims mostly share the colour of the solid part they come from, so
    // every cell takes the nearest subject seen. Where that does not explain a pixel (glass, a
    // strand of another colour) the key takes the neutral subject instead; with no subject
    // seen at all, neutral is all there is.
    unmixSubjects(g, subjectValid);
    const bool anySubject =
        std::any_of(subjectValid.begin(), subjectValid.end(), [](char v) { return v != 0; });
    fillCellColour(subjectValid, g, {&Cell::sr, &Cell::sk, &Cell::so}, 128.0f);
    // Luma detail needs the subject's brightness even beside a lone strand: the nearest
    // subject's, or the backdrop's when there is none, so that it adds nothing.
    {
        const Luma l = lumaWeights(blue);
        for (Cell& c : g.cells) {
            c.sy = anySubject ? l.r * c.sr + l.k * c.sk + l.o * c.so
                              : l.r * c.r + l.k * c.k + l.o * c.o;
        }
    }
    // The subject's luma from the nearest solid part is a guess for strands and glass. Where a
    // block holds mixes enough, the luma of 4 x 4 patches against their excess (both at
    // the chroma's resolution) gives the luma step that goes with the key's own e(F).
    {
        const Luma l = lumaWeights(blue);
        const int stride = std::max(4, g.size / 8);
        core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
            for (int by = by0; by < by1; ++by) {
                for (int bx = 0; bx < g.w; ++bx) {
                    Cell& cell = g.cells[size_t(by) * g.w + bx];
                    const float wr = std::clamp(0.5f + (cell.sr - cell.so) / 40.0f, 0.0f, 1.0f);
                    const float ke = std::max(8.0f, cell.k - wr * cell.r - (1 - wr) * cell.o);
                    const float fe = std::clamp(cell.sk - wr * cell.sr - (1 - wr) * cell.so,
                                                -1.5f * ke, 0.5f * ke);
                    double se = 0, sy = 0, see = 0, syy = 0, sey = 0;
                    int n = 0;
                    const int x1 = std::min(W, (bx + 1) * g.size) - 4;
                    const int y1 = std::min(H, (by + 1) * g.size) - 4;
                    for (int y = by * g.size; y <= y1; y += stride) {
                        const auto* row0 = reinterpret_cast<const quint32*>(img.constScanLine(y));
                        const auto* row1 =
                            reinterpret_cast<const quint32*>(img.constScanLine(y + 2));
                        for (int x = bx * g.size; x <= x1; x += stride) {
                            float e = 0, lum = 0;
                            for (const quint32 p : {row0[x], row1[x + 2]}) {
                                const Channels c = split(p, blue);
                                e += float(c.k) - wr * float(c.r) - (1 - wr) * float(c.o);
                                lum += l.r * float(c.r) + l.k * float(c.k) + l.o * float(c.o);
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
                    const double spread = 2.0 * 0.1 * ke;
                    if (ve < spread * spread || cv * cv < 0.3 * ve * vy) {
                        continue;
                    }
                    const float yK = l.r * cell.r + l.k * cell.k + l.o * cell.o;
                    cell.sy = yK + float(cv / ve) * (fe - ke);
                }
            }
        });
    }
    return g;
}

// What the ramp and the colour correction need, fixed for one call.
struct Shape {
    float lo, scale;      // where the chroma carries fine detail: alpha = (raw - lo) * scale
    float opaqueDespill;  // share of an opaque pixel's key excess removed
    float clearBelow;     // a chroma alpha at most this keys out whatever the luma says
    float solidAbove;     // a chroma alpha at least this is opaque whatever the luma says
    Luma luma;
};

// Plain selects, unlike std::clamp's references and branches, keep the loops vectorised.
inline __attribute__((always_inline)) float minf(float a, float b) {
    return a < b ? a : b;
}
inline __attribute__((always_inline)) float maxf(float a, float b) {
    return a > b ? a : b;
}
inline __attribute__((always_inline)) float clampf(float v, float lo, float hi) {
    return minf(maxf(v, lo), hi);
}
inline __attribute__((always_inline)) int maxi(int a, int b) {
    return a > b ? a : b;
}

constexpr int kRaw = 7;  // grid fields: backdrop r, k, o; subject r, k, o, luma

// Pixels per block of the key: fixed, so that the compiler vectorises it whole.
constexpr int kStride = 8;

// The fields on the centre line of grid row j.
void lineAt(const Grid& g, int j, float* line) {
    for (int i = 0; i < g.w; ++i) {
        const Cell& a = g.cells[size_t(j) * g.w + i];
        const float v[kRaw] = {a.r, a.k, a.o, a.sr, a.sk, a.so, a.sy};
        std::copy(v, v + kRaw, line + i * kRaw);
    }
}

// The fields over one block of kStride pixels: linear in x between block centres, so a value
// at the block's first pixel and a slope per pixel carry them; the block centre picks the
// pair of cells. `inv0` is the reciprocal of the key's denominator at the block centre.
struct BlockFields {
    float at[kRaw];
    float slope[kRaw];
    float inv0;
    float invNeutral0;  // the same for the classic key's denominator
};

// The excess weights and the key's denominator for one set of fields.
struct KeyTerms {
    float wr, ke, den;
};

inline __attribute__((always_inline)) KeyTerms keyTerms(float fr, float fk, float fo, float sr,
                                                        float sk, float so) {
    const float wr = clampf(0.5f + (sr - so) * (1.0f / 40.0f), 0.0f, 1.0f);
    const float ke = maxf(8.0f, fk - wr * fr - (1.0f - wr) * fo);
    const float fe = clampf(sk - wr * sr - (1.0f - wr) * so, -1.5f * ke, 0.5f * ke);
    return {wr, ke, ke - fe};
}

// Where a block sits between two cells, the same for every row.
struct BlockPlace {
    int i0, i1;      // the two cells
    float t;         // t at the block centre
    float perPixel;  // t per pixel (0 past a one-cell grid)
};

std::vector<BlockPlace> blockPlaces(const Grid& g, int blocks) {
    std::vector<BlockPlace> out(static_cast<size_t>(blocks));
    const float step = 1.0f / float(g.size);
    for (int n = 0; n < blocks; ++n) {
        // Past the outermost block centres the field is extrapolated, so a fall-off
        // continues to the frame's edge.
        const float centre = float(n * kStride) + 0.5f * float(kStride - 1);
        const float fx = (centre + 0.5f) * step - 0.5f;
        const int i0 = std::clamp(int(std::floor(fx)), 0, std::max(0, g.w - 2));
        const int i1 = std::min(i0 + 1, g.w - 1);
        out[size_t(n)] = {i0, i1, i1 > i0 ? fx - float(i0) : 0.0f, i1 > i0 ? step : 0.0f};
    }
    return out;
}

// A row's block fields plane by plane, field f of block n at f * blocks + n, so that working
// them out for each photo row vectorises: at, slope, inv0, invNeutral0.
constexpr int kPlanes = 2 * kRaw + 2;

// The at and slope planes from the fields on one line.
void rowBlocks(const float* line, const std::vector<BlockPlace>& places, float* out) {
    const size_t m = places.size();
    for (size_t n = 0; n < m; ++n) {
        const BlockPlace& p = places[n];
        for (int c = 0; c < kRaw; ++c) {
            const float a = line[p.i0 * kRaw + c], d = line[p.i1 * kRaw + c] - a;
            const float slope = d * p.perPixel;
            out[size_t(c) * m + n] = a + d * p.t - slope * 0.5f * float(kStride - 1);
            out[size_t(kRaw + c) * m + n] = slope;
        }
    }
}

// The inv0 and invNeutral0 planes from the at and slope planes before them.
inline __attribute__((always_inline)) void blockReciprocals(const float* __restrict planes,
                                                            size_t m, float* __restrict inv,
                                                            float* __restrict invNeutral) {
    const float half = 0.5f * float(kStride - 1);
    for (size_t n = 0; n < m; ++n) {
        float mid[6];
        for (int c = 0; c < 6; ++c) {
            mid[c] = planes[size_t(c) * m + n] + planes[size_t(kRaw + c) * m + n] * half;
        }
        inv[n] = 1.0f / keyTerms(mid[0], mid[1], mid[2], mid[3], mid[4], mid[5]).den;
        invNeutral[n] = 1.0f / maxf(8.0f, mid[1] - 0.5f * (mid[0] + mid[2]));
    }
}

// The planes of one photo row between two grid rows' centre lines: at and slope are linear in
// the row, as the fields are, so each pair of grid rows is read from the cells once.
KEYING_KERNEL void lerpBlocks(const float* __restrict from, const float* __restrict to, float t,
                              size_t m, float* __restrict out) {
    for (size_t f = 0; f < size_t(2 * kRaw) * m; ++f) {
        out[f] = from[f] + (to[f] - from[f]) * t;
    }
    blockReciprocals(out, m, out + size_t(2 * kRaw) * m, out + size_t(2 * kRaw + 1) * m);
}

// What a row's soft key reads besides the pixels: the three channels of the row as floats
// (r, k, o planes) and their sums down [1 4 6 4 1], each with two spare elements at both ends.
struct RowPlanes {
    const float* mid;
    const float* sum;
    int padded;  // elements per channel plane
    int summed;  // elements per sum plane
};

// One block of kStride pixels: alpha, the unmixing, the output.
//
// The excess weighs the two other channels as the subject nearby does: against its larger
// one (k - r for skin, k - o for a blue shirt), so that a yellow or cyan subject is still
// far from the backdrop, yet linear, so that a mix of subject and backdrop keeps its ratio.
//
// Chroma often comes at half resolution (JPEG); luma keeps the fine detail. So the finest
// detail of the colour-difference alpha is swapped for that of a luma alpha, scaled by the
// luma step from backdrop to subject and damped where that step is too small to trust.
// Where chroma has full resolution the two agree and the swap changes nothing.
//
// The luma detail only counts where the chroma says the pixel is mixed, so a block that the
// chroma alone puts wholly on the backdrop or wholly in the subject skips it.
template <bool Blue>
inline __attribute__((always_inline)) void softBlock(quint32* __restrict px, int x,
                                                     const BlockFields& bf, RowPlanes pl,
                                                     Shape sh) {
    float fr[kStride], fk[kStride], fo[kStride], wr[kStride], gain[kStride], chroma[kStride];
    float sy[kStride], sd[kStride];
    int r[kStride], k[kStride], o[kStride];
    for (int i = 0; i < kStride; ++i) {
        const float t = float(i);
        fr[i] = bf.at[0] + bf.slope[0] * t;
        fk[i] = bf.at[1] + bf.slope[1] * t;
        fo[i] = bf.at[2] + bf.slope[2] * t;
        const float sr = bf.at[3] + bf.slope[3] * t, sk = bf.at[4] + bf.slope[4] * t;
        const float so = bf.at[5] + bf.slope[5] * t;
        sy[i] = bf.at[6] + bf.slope[6] * t;
        sd[i] = sr - so;
        const KeyTerms kt = keyTerms(fr[i], fk[i], fo[i], sr, sk, so);
        wr[i] = kt.wr;
        // The denominator changes slowly: one Newton step from the block centre's reciprocal.
        gain[i] = bf.inv0 * (2.0f - bf.inv0 * kt.den);

        const quint32 p = px[i];
        r[i] = int((p >> 16) & 0xff);
        const int g = int((p >> 8) & 0xff), b = int(p & 0xff);
        k[i] = Blue ? b : g, o[i] = Blue ? g : b;
        const float e = float(k[i]) - wr[i] * float(r[i]) - (1.0f - wr[i]) * float(o[i]);
        chroma[i] = (kt.ke - e) * gain[i];
    }
    // Kept apart from the loop above, which then stays vectorised.
    float least = chroma[0], most = chroma[0];
    for (int i = 1; i < kStride; ++i) {
        least = minf(least, chroma[i]), most = maxf(most, chroma[i]);
    }
    const bool clear = most <= sh.clearBelow, solid = least >= sh.solidAbove;
    if (clear) {
        for (int i = 0; i < kStride; ++i) {
            px[i] = 0u;
        }
        return;
    }
    if (solid) {
        for (int i = 0; i < kStride; ++i) {
            const int excess = maxi(0, k[i] - maxi(r[i], o[i]));
            const int kOpaque = k[i] - int(float(excess) * sh.opaqueDespill + 0.5f);
            const quint32 outG = quint32(Blue ? o[i] : kOpaque),
                          outB = quint32(Blue ? kOpaque : o[i]);
            px[i] = (px[i] & 0xff000000u) | (quint32(r[i]) << 16) | (outG << 8) | outB;
        }
        return;
    }
    const Luma l = sh.luma;
    const float* mr = pl.mid + x;
    const float* mk = mr + pl.padded;
    const float* mo = mk + pl.padded;
    const float* sr = pl.sum + x;
    const float* sk = sr + pl.summed;
    const float* so = sk + pl.summed;
    auto detail = [](const float* m, const float* s, int i) {
        return m[i] - (s[i] + 4.0f * s[i + 1] + 6.0f * s[i + 2] + 4.0f * s[i + 3] + s[i + 4]) *
                          (1.0f / 256.0f);
    };
    for (int i = 0; i < kStride; ++i) {
        const float hr = detail(mr, sr, i), hk = detail(mk, sk, i), ho = detail(mo, so, i);
        const float yK = l.r * fr[i] + l.k * fk[i] + l.o * fo[i];
        const float hy = l.r * hr + l.k * hk + l.o * ho;
        const float he = hk - wr[i] * hr - (1.0f - wr[i]) * ho;
        // Beside a part of another colour (glass by its label) the subject field can be wrong
        // for the pixel. The excess leaves the difference of the two other channels free: the
        // neutral subject of the classic key is taken instead where it explains that better.
        const float ke0 = maxf(8.0f, fk[i] - 0.5f * (fr[i] + fo[i]));
        const float neutral = (ke0 - float(k[i]) + 0.5f * float(r[i] + o[i])) * bf.invNeutral0 *
                              (2.0f - bf.invNeutral0 * ke0);
        const float dK = fr[i] - fo[i], dP = float(r[i] - o[i]);
        const float offNeutral = std::fabs(dP - (1.0f - neutral) * dK);
        const float offField = std::fabs(dP - chroma[i] * sd[i] - (1.0f - chroma[i]) * dK);
        const float ch = offNeutral + 4.0f < offField ? neutral : chroma[i];
        const float c = clampf(ch, 0.0f, 1.0f);
        const float mixed = minf(1.0f, 16.0f * c * (1.0f - c));
        // The luma step from backdrop to subject: the pixel's own where its alpha at the
        // blur's resolution (the chroma alpha less its detail) is large enough to tell it, as
        // a subject's colours vary (four leaves, a strand lighter than its head); the field's
        // where it is not. Both sides of the ratio are blurred alike, so with full-resolution
        // chroma the swap still changes nothing.
        const float yB = l.r * mr[i] + l.k * mk[i] + l.o * mo[i] - hy;
        const float cB = clampf(ch + he * gain[i], 0.0f, 1.0f);
        // The step is n / d; the swap below, step (hy + he gain step) / (step^2 + 500), is
        // written over n and d so that one division does.
        const float n = cB * (yB - yK) + 0.02f * (sy[i] - yK), d = cB * cB + 0.02f;
        // The detail chroma lacks is added 1.15 times over: JPEG softens luma's finest detail
        // a little too.
        const float raw =
            ch + 1.15f * mixed * n * (hy * d + he * gain[i] * n) / (n * n + 500.0f * d * d);
        // Where the chroma is smooth (a smeared rim, glass) a mix keeps its level: only the
        // last 5% at either end goes, at twice the slope, as noise. Where it carries fine
        // detail (strands), half-resolution chroma and noise spread alpha into the gaps, and
        // the plain ramp that takes 5% off both ends takes that back.
        const float low = (raw - sh.lo) * 2.0f;
        const float smooth = maxf(minf(low, raw - sh.lo + 0.05f), low - 0.8f);
        const float ramp = (raw - sh.lo) * sh.scale;
        const float detailed = minf(1.0f, std::fabs(he * gain[i]) * 50.0f);
        const float a = clampf(smooth + (ramp - smooth) * detailed, 0.0f, 1.0f);
        const int a8 = int(a * 255.0f + 0.5f);
        // Unmix with the stored alpha, so what is written composes back to the photo.
        const float a8f = float(a8 > 1 ? a8 : 1);
        const float inv = 255.0f / a8f, restLow = 1.0f - a8f * (1.0f / 255.0f);
        const float ur = clampf((float(r[i]) - restLow * fr[i]) * inv, 0.0f, 255.0f);
        const float uk = clampf((float(k[i]) - restLow * fk[i]) * inv, 0.0f, 255.0f);
        const float uo = clampf((float(o[i]) - restLow * fo[i]) * inv, 0.0f, 255.0f);
        const float ukClipped = minf(uk, maxf(ur, uo));
        // An opaque pixel keeps its colour unless spill correction asks otherwise.
        const int excess = maxi(0, k[i] - maxi(r[i], o[i]));
        const int kOpaque = k[i] - int(float(excess) * sh.opaqueDespill + 0.5f);
        const int opaque = a8 >= 255;
        const int outR = opaque ? r[i] : int(ur + 0.5f);
        const int outK = opaque ? kOpaque : int(ukClipped + 0.5f);
        const int outO = opaque ? o[i] : int(uo + 0.5f);
        const int outA = opaque ? int(px[i] >> 24) : a8;
        const int outG = Blue ? outO : outK, outB = Blue ? outK : outO;
        const quint32 q =
            (quint32(outA) << 24) | (quint32(outR) << 16) | (quint32(outG) << 8) | quint32(outB);
        px[i] = a8 <= 0 ? 0u : q;
    }
}

// A row of w pixels; the planes are padded to whole blocks.
template <bool Blue>
inline __attribute__((always_inline)) void softRowBody(quint32* px, int w,
                                                       const float* __restrict fields, RowPlanes pl,
                                                       Shape sh) {
    const int whole = w / kStride;
    const size_t m = size_t((w + kStride - 1) / kStride);
    auto at = [&](int n) {
        BlockFields bf;
        for (int c = 0; c < kRaw; ++c) {
            bf.at[c] = fields[size_t(c) * m + size_t(n)];
            bf.slope[c] = fields[size_t(kRaw + c) * m + size_t(n)];
        }
        bf.inv0 = fields[size_t(2 * kRaw) * m + size_t(n)];
        bf.invNeutral0 = fields[size_t(2 * kRaw + 1) * m + size_t(n)];
        return bf;
    };
    for (int n = 0; n < whole; ++n) {
        softBlock<Blue>(px + n * kStride, n * kStride, at(n), pl, sh);
    }
    if (const int rest = w - whole * kStride; rest > 0) {
        quint32 tail[kStride] = {};
        std::copy(px + whole * kStride, px + w, tail);
        softBlock<Blue>(tail, whole * kStride, at(whole), pl, sh);
        std::copy(tail, tail + rest, px + whole * kStride);
    }
}

KEYING_KERNEL void softRowGreen(quint32* px, int w, const float* blocks, RowPlanes pl, Shape sh) {
    softRowBody<false>(px, w, blocks, pl, sh);
}

KEYING_KERNEL void softRowBlue(quint32* px, int w, const float* blocks, RowPlanes pl, Shape sh) {
    softRowBody<true>(px, w, blocks, pl, sh);
}

// The three channels of a row as floats, one plane each: r, k, o.
KEYING_KERNEL void channelRow(const quint32* __restrict px, float* __restrict out, int n,
                              int padded, bool blue) {
    float* __restrict r = out;
    float* __restrict k = out + padded;
    float* __restrict o = out + 2 * padded;
    const int ks = blue ? 0 : 8, os = blue ? 8 : 0;
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        r[i] = float((p >> 16) & 0xff);
        k[i] = float((p >> ks) & 0xff);
        o[i] = float((p >> os) & 0xff);
    }
}

// A channel's sum down [1 4 6 4 1], for the blur that the detail takes off (the same across):
// wider than the blur of JPEG's half-resolution chroma, so that the swap reaches all of it.
// `sum` has two spare elements at each end, copies of the outermost pixels.
KEYING_KERNEL void columnSumRow(const float* __restrict a, const float* __restrict b,
                                const float* __restrict c, const float* __restrict d,
                                const float* __restrict e, float* __restrict sum, int n) {
    for (int i = 0; i < n; ++i) {
        sum[i + 2] = a[i] + e[i] + 4.0f * (b[i] + d[i]) + 6.0f * c[i];
    }
    sum[0] = sum[1] = sum[2], sum[n + 3] = sum[n + 2] = sum[n + 1];
}

}  // namespace

void maskOutSoft(QImage& img, QRgb, const KeySettings& s) {
    if (!toArgb32(img)) {
        return;
    }
    const bool blue = s.backdrop == Backdrop::Blue;
    const Grid grid = estimateFields(img, blue);
    // Positive fine tuning raises the threshold: more of the backdrop-like edge is keyed out.
    const float shift = 0.003f * float(std::clamp(s.fine, -100, 100));
    Shape sh;
    sh.lo = 0.05f + shift;   // above the backdrop's noise
    sh.scale = 1.0f / 0.9f;  // opaque from 0.95 up; a half mix stays half
    sh.opaqueDespill = s.correctSpill ? 0.5f + float(std::clamp(s.spill, 0, 40)) / 80.0f : 0.0f;
    sh.luma = lumaWeights(blue);

    // A block whose chroma alone puts it at either end of the ramp is taken whole as clear or
    // solid, luma detail unread: in the backdrop that detail is noise, and inside the subject
    // (whose field holds its most subject-like colour, so that most of it reads a little
    // under 1) it is texture, not a strand.
    sh.clearBelow = sh.lo;
    sh.solidAbove = sh.lo + 1.0f / sh.scale;

    const int w = img.width(), h = img.height();
    const int padded = (w + kStride - 1) / kStride * kStride;
    const int blocks = padded / kStride;
    const int summed = padded + 4;
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    auto rowAt = [&](int y) { return reinterpret_cast<quint32*>(bits + qsizetype(y) * bpl); };
    // The detail needs the photo's two rows above and below, but each band rewrites its rows
    // in place: first every band keeps the channels of its first two and last two rows.
    const std::vector<core::RowBand> bands = core::rowBands(h, w);
    const std::vector<BlockPlace> places = blockPlaces(grid, blocks);
    const size_t plane = size_t(padded) * 3;  // one row's three channels
    auto kept = [&](const core::RowBand& b, int slot) {
        return slot < 2 ? std::min(b.first + slot, b.last - 1)
                        : std::max(b.first, b.last + slot - 4);
    };
    std::vector<float> edges(bands.size() * 4 * plane);
    core::runBands(bands, [&](size_t i, const core::RowBand& b) {
        for (int slot = 0; slot < 4; ++slot) {
            channelRow(rowAt(kept(b, slot)), &edges[(4 * i + size_t(slot)) * plane], w, padded,
                       blue);
        }
    });
    // Row r of another band, as it was: one of the rows that band kept.
    auto keptRow = [&](int r) -> const float* {
        const auto j =
            size_t(std::upper_bound(bands.begin(), bands.end(), r,
                                    [](int v, const core::RowBand& b) { return v < b.first; }) -
                   bands.begin() - 1);
        int slot = 0;
        while (slot < 3 && kept(bands[j], slot) != r) {
            ++slot;
        }
        return &edges[(4 * j + size_t(slot)) * plane];
    };
    core::runBands(bands, [&](size_t, const core::RowBand& b) {
        std::vector<float> buf(plane * 5 + size_t(summed) * 3);
        std::vector<float> line(size_t(grid.w) * kRaw);
        const size_t planes = size_t(kPlanes) * size_t(blocks);
        std::vector<float> fields(planes), from(planes), to(planes);
        int pair = -1;  // the grid row that `from` holds
        float* sum = buf.data() + plane * 5;
        // Rows y - 2 to y + 2 in turn, each in the slot of its index modulo 5; past the
        // photo's edges the outermost row repeats. Rows of this band are read before it
        // rewrites them, as none is read ahead of y.
        auto slotOf = [&](int index) { return buf.data() + size_t((index % 5 + 5) % 5) * plane; };
        auto load = [&](int index) {
            const int r = std::clamp(index, 0, h - 1);
            if (r >= b.first && r < b.last) {
                channelRow(rowAt(r), slotOf(index), w, padded, blue);
            } else {
                const float* from = keptRow(r);
                std::copy(from, from + plane, slotOf(index));
            }
        };
        for (int index = b.first - 2; index < b.first + 2; ++index) {
            load(index);
        }
        for (int y = b.first; y < b.last; ++y) {
            load(y + 2);
            for (int c = 0; c < 3; ++c) {
                const size_t at = size_t(c) * padded;
                columnSumRow(slotOf(y - 2) + at, slotOf(y - 1) + at, slotOf(y) + at,
                             slotOf(y + 1) + at, slotOf(y + 2) + at, sum + size_t(c) * summed, w);
            }
            // Past the outermost grid rows' centres the fields are extrapolated, as across.
            const float fy = (float(y) + 0.5f) / float(grid.size) - 0.5f;
            const int j0 = std::clamp(int(std::floor(fy)), 0, std::max(0, grid.h - 2));
            const int j1 = std::min(j0 + 1, grid.h - 1);
            if (j0 != pair) {
                // Going down, the lower line of the last pair is the upper one of this.
                if (pair >= 0 && j0 == pair + 1) {
                    from.swap(to);
                } else {
                    lineAt(grid, j0, line.data());
                    rowBlocks(line.data(), places, from.data());
                }
                lineAt(grid, j1, line.data());
                rowBlocks(line.data(), places, to.data());
                pair = j0;
            }
            lerpBlocks(from.data(), to.data(), j1 > j0 ? fy - float(j0) : 0.0f, size_t(blocks),
                       fields.data());
            const RowPlanes pl{slotOf(y), sum, padded, summed};
            (blue ? softRowBlue : softRowGreen)(rowAt(y), w, fields.data(), pl, sh);
        }
    });
}

}  // namespace keying
