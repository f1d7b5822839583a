// Magic Number 10: a soft key against a locally estimated backdrop.
//
// A studio backdrop is never one colour: hot spots, fall-off, folds and the subject's own
// shadow change it across the frame. So the backdrop is estimated as a smooth field: a coarse
// grid of block averages of confidently-backdrop pixels, the blocks covered by the subject
// filled in from their neighbours, read between block centres by bilinear interpolation.
//
// Coverage is a linear colour-difference key against that field. With the key channel k
// (green or blue) and the two others r and o, the excess e = k - (r + o) / 2 mixes linearly,
// so a pixel that is a mix of subject F and backdrop K has e = a e(F) + (1 - a) e(K) and
// a = (e(K) - e) / (e(K) - e(F)). e(F) comes from a second coarse field of the subject's own
// excess near each block. A short ramp then clips sensor noise at both ends.
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
        if (ring.empty()) {
            return;
        }
        for (int i : ring) {
            valid[i] = 1;
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

struct Grid {
    int size = 0;  // block edge in pixels
    int w = 0, h = 0;
    std::vector<Cell> cells;
};

Grid estimateFields(const QImage& img, bool blue) {
    Grid g;
    const int W = img.width(), H = img.height();
    g.size = std::max(8, (std::max(W, H) + 63) / 64);
    g.w = (W + g.size - 1) / g.size;
    g.h = (H + g.size - 1) / g.size;
    g.cells.assign(size_t(g.w) * g.h, Cell());
    std::vector<char> backdropValid(g.cells.size(), 0), subjectValid(g.cells.size(), 0);
    const float confident = 0.8f * typicalBackdropRatio(img, blue);
    const int step = g.size >= 16 ? 2 : 1;

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
    // key-tinted parts of the subject fall short of it.
    core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                double sum[3] = {0, 0, 0};
                int n = 0, samples = 0;
                visit(bx, by, [&](Channels c) {
                    ++samples;
                    if (c.k >= 16 && float(c.k - std::max(c.r, c.o)) >= confident * float(c.k)) {
                        sum[0] += c.r, sum[1] += c.k, sum[2] += c.o, ++n;
                    }
                });
                if (n * 8 < samples || n < 2) {
                    continue;
                }
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                cell.r = float(sum[0] / n), cell.k = float(sum[1] / n), cell.o = float(sum[2] / n);
                backdropValid[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    fillHoles(
        backdropValid, g.w, g.h,
        [&](int i) {
            return std::array<float, 3>{g.cells[i].r, g.cells[i].k, g.cells[i].o};
        },
        [&](int i, std::array<float, 3> v) {
            g.cells[i].r = v[0], g.cells[i].k = v[1], g.cells[i].o = v[2];
        },
        0.0f);

    // The subject: the mean colour of the samples that clearly are not backdrop.
    core::forEachRowBand(g.h, qint64(W) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                const float ke = cell.k - std::max(cell.r, cell.o);
                double sum[3] = {0, 0, 0};
                int n = 0, samples = 0;
                visit(bx, by, [&](Channels c) {
                    ++samples;
                    if (float(c.k - std::max(c.r, c.o)) <= 0.1f * ke) {
                        sum[0] += c.r, sum[1] += c.k, sum[2] += c.o, ++n;
                    }
                });
                if (n * 8 >= samples && n > 0) {
                    cell.sr = float(sum[0] / n), cell.sk = float(sum[1] / n);
                    cell.so = float(sum[2] / n);
                    subjectValid[size_t(by) * g.w + bx] = 1;
                }
            }
        }
    });
    // Where no subject is seen close by (glass, a lone strand) nothing is known of its
    // colour: a neutral one assumes no excess, the classic colour-difference key.
    for (size_t i = 0; i < g.cells.size(); ++i) {
        if (!subjectValid[i]) {
            g.cells[i].sr = g.cells[i].sk = g.cells[i].so = 128.0f;
        }
    }
    return g;
}

// Per-pixel values of one row, interpolated from the grid.
struct RowFields {
    std::vector<float> r, k, o;          // backdrop
    std::vector<float> w, gain, offset;  // alpha = offset - gain * (k - w r - (1 - w) o)
    explicit RowFields(int n) : r(n), k(n), o(n), w(n), gain(n), offset(n) {}
};

// What the ramp and the colour correction need, fixed for one call.
struct Shape {
    float lo, scale;      // final alpha = (raw - lo) * scale
    float opaqueDespill;  // share of an opaque pixel's key excess removed
};

KEYING_KERNEL void softRow(quint32* px, int n, const RowFields& f, Shape sh, bool blue) {
    const float* fr = f.r.data();
    const float* fk = f.k.data();
    const float* fo = f.o.data();
    const float* wr = f.w.data();
    const float* gain = f.gain.data();
    const float* offset = f.offset.data();
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
        const int k = blue ? b : g, o = blue ? g : b;
        const float e = float(k) - wr[i] * float(r) - (1.0f - wr[i]) * float(o);
        const float raw = offset[i] - gain[i] * e;
        const float a = std::clamp((raw - sh.lo) * sh.scale, 0.0f, 1.0f);
        const int a8 = int(a * 255.0f + 0.5f);
        // Unmix with the stored alpha, so what is written composes back to the photo.
        const float af = float(std::max(a8, 1)) * (1.0f / 255.0f);
        const float inv = 1.0f / af, rest = 1.0f - af;
        const float ur = std::clamp((float(r) - rest * fr[i]) * inv, 0.0f, 255.0f);
        const float uk = std::clamp((float(k) - rest * fk[i]) * inv, 0.0f, 255.0f);
        const float uo = std::clamp((float(o) - rest * fo[i]) * inv, 0.0f, 255.0f);
        const float ukClipped = std::min(uk, std::max(ur, uo));
        // An opaque pixel keeps its colour unless spill correction asks otherwise.
        const int m = std::max(r, o);
        const int excess = std::max(0, k - m);
        const int kOpaque = k - int(float(excess) * sh.opaqueDespill + 0.5f);
        const int outR = a8 >= 255 ? r : int(ur + 0.5f);
        const int outK = a8 >= 255 ? kOpaque : int(ukClipped + 0.5f);
        const int outO = a8 >= 255 ? o : int(uo + 0.5f);
        const int outA = a8 >= 255 ? int(p >> 24) : a8;
        const int outG = blue ? outO : outK, outB = blue ? outK : outO;
        const quint32 q =
            (quint32(outA) << 24) | (quint32(outR) << 16) | (quint32(outG) << 8) | quint32(outB);
        px[i] = a8 <= 0 ? 0u : q;
    }
}

// Fills one row's fields by interpolating the grid, linearly between block centres.
//
// The excess weighs the two other channels as the subject nearby does: against its larger
// one (k - r for skin, k - o for a blue shirt), so that a yellow or cyan subject is still
// far from the backdrop, yet linear, so that a mix of subject and backdrop keeps its ratio.
void interpolateRow(const Grid& g, int y, int w, std::vector<Cell>& line, RowFields& f) {
    const float fy = (float(y) + 0.5f) / float(g.size) - 0.5f;
    // Past the outermost block centres the field is extrapolated, so a fall-off continues
    // to the frame's edge.
    const int j0 = std::clamp(int(std::floor(fy)), 0, std::max(0, g.h - 2));
    const int j1 = std::min(j0 + 1, g.h - 1);
    const float ty = j1 > j0 ? fy - float(j0) : 0.0f;
    auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
    for (int i = 0; i < g.w; ++i) {
        const Cell& a = g.cells[size_t(j0) * g.w + i];
        const Cell& b = g.cells[size_t(j1) * g.w + i];
        line[i] = {lerp(a.r, b.r, ty),   lerp(a.k, b.k, ty),   lerp(a.o, b.o, ty),
                   lerp(a.sr, b.sr, ty), lerp(a.sk, b.sk, ty), lerp(a.so, b.so, ty)};
    }
    for (int x = 0; x < w; ++x) {
        const float fx = (float(x) + 0.5f) / float(g.size) - 0.5f;
        const int i0 = std::clamp(int(std::floor(fx)), 0, std::max(0, g.w - 2));
        const int i1 = std::min(i0 + 1, g.w - 1);
        const float tx = i1 > i0 ? fx - float(i0) : 0.0f;
        const Cell& a = line[i0];
        const Cell& b = line[i1];
        const float r = lerp(a.r, b.r, tx), k = lerp(a.k, b.k, tx), o = lerp(a.o, b.o, tx);
        const float sr = lerp(a.sr, b.sr, tx), sk = lerp(a.sk, b.sk, tx);
        const float so = lerp(a.so, b.so, tx);
        const float wr = std::clamp(0.5f + (sr - so) / 40.0f, 0.0f, 1.0f);
        const float ke = std::max(8.0f, k - wr * r - (1.0f - wr) * o);
        const float fe = std::clamp(sk - wr * sr - (1.0f - wr) * so, -1.5f * ke, 0.5f * ke);
        f.r[x] = r, f.k[x] = k, f.o[x] = o, f.w[x] = wr;
        f.gain[x] = 1.0f / (ke - fe);
        f.offset[x] = ke * f.gain[x];
    }
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

    const int w = img.width(), h = img.height();
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        std::vector<Cell> line(size_t(grid.w));
        RowFields f(w);
        for (int y = y0; y < y1; ++y) {
            interpolateRow(grid, y, w, line, f);
            softRow(reinterpret_cast<quint32*>(bits + y * bpl), w, f, sh, blue);
        }
    });
}

}  // namespace keying
