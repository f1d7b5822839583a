#include "keying/soft/plate_key.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/rows.h"
#include "keying/pixels.h"
#include "keying/soft/grid.h"
#include "keying/soft/soft_key.h"

namespace keying {

namespace soft {
namespace {

// What the kernel reads of one call, fixed for all its pixels.
struct PlateShape {
    float gain[3];
    float noiseTol2;   // squared residual within noise, off the shadow line
    float layerTol2;   // the same off the plane of light neutral layers
    float relTol2;     // the same as a share of the backdrop's length, squared
    float layerTint2;  // the tint a light layer may have, a share of its grey, squared
    float layerGrey;   // and the lightest grey
    float minFactor;   // darkest shadow
    float maxBright;   // brightest backdrop against the plate
    float gate;        // most a pixel's shade may differ from its blocks'
    float floor;       // least darkening kept as shadow
    float minDen;      // least |F - K|^2
    float lo, scale;   // the clip of the alpha at either end as noise
    float despill;     // share of an opaque pixel's excess taken out
    bool keepShadows;
    bool blue;
};

// The fields at block scale that each pixel reads: the shade of the blocks about it (where
// they are shadow-like; -1 where they are not) and the colour of the opaque subject nearby.
struct PlateFields {
    int w = 0, h = 0;
    Plane<float> shade;
    Grid subject;  // per cell: the mean of its own farthest blocks
    Grid wide;     // of those as far as the farthest of the cells about it
    Grid common;   // of all its blocks that are neither backdrop, shadow nor a light layer
};

// The colour of the opaque subject about each block: per cell, the mean of the blocks farthest
// from the backdrop that are not shadow, each block taken as its purest pixel (a block's mean
// over a strand of hair is mostly backdrop, its purest pixel mostly strand). `own` takes those as
// far as the cell's own farthest, `wide` those as far as the farthest of the cells within
// plateSubjectReach, `common` all of them but light neutral layers (a cloth near the backdrop's
// colour, crossed by a stem far from it; not glass beside its label, whose mean is no colour of
// either).
void subjectFields(const Planes& shot, const Planes& purest, const Plane<char>& like,
                   const Plane<char>& layer, const Plane<float>& dist, const SoftKeyParams& p,
                   Grid& own, Grid& wide, Grid& common) {
    const int w = shot.w, h = shot.h;
    Grid g;
    g.size = int(p.plateSubjectCell);
    g.w = (w + g.size - 1) / g.size, g.h = (h + g.size - 1) / g.size;
    g.cells.assign(size_t(g.w) * size_t(g.h), Cell());
    std::vector<float> top(g.cells.size(), 0.0f);
    const float minRes = float(p.plateSubjectDist) * float(p.plateSubjectDist);
    // Every block with its cell, row by row, without a division per block; bands of whole cell
    // rows side by side, so that each cell is summed by one band in the same order.
    std::vector<size_t> cellAcross(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x)
        cellAcross[size_t(x)] = size_t(x / g.size);
    auto forEachBlock = [&](auto&& f) {
        core::forEachRowBand(g.h, qint64(w) * g.size, [&](int cy0, int cy1) {
            for (int y = cy0 * g.size; y < std::min(h, cy1 * g.size); ++y) {
                const size_t row = size_t(y / g.size) * size_t(g.w), first = size_t(y) * size_t(w);
                for (int x = 0; x < w; ++x)
                    f(first + size_t(x), row + cellAcross[size_t(x)]);
            }
        });
    };
    forEachBlock([&](size_t i, size_t c) {
        if (!like[i] && dist[i] >= minRes)
            top[c] = std::max(top[c], dist[i]);
    });
    // A cell of fringe (hair, a veil's rim) holds no opaque block of its own: its farthest
    // blocks are mixtures. Measured against the farthest of the cells about it, it holds none
    // and takes its colour from its neighbours instead. (So does a cell of cloth near the key's
    // colour beside skin, which is why the kernel reads both fields.)
    const int reach = int(p.plateSubjectReach);
    std::vector<float> around(top.size());
    if (reach > 0) {
        for (int cy = 0; cy < g.h; ++cy)
            for (int cx = 0; cx < g.w; ++cx) {
                float m = 0;
                for (int ny = std::max(0, cy - reach); ny <= std::min(g.h - 1, cy + reach); ++ny)
                    for (int nx = std::max(0, cx - reach); nx <= std::min(g.w - 1, cx + reach);
                         ++nx)
                        m = std::max(m, top[size_t(ny) * size_t(g.w) + size_t(nx)]);
                around[size_t(cy) * size_t(g.w) + size_t(cx)] = m;
            }
    }
    const auto field = [&](const std::vector<float>& far, bool layers) {
        Grid cells = g;
        std::vector<float> count(g.cells.size(), 0.0f);
        const float share = float(p.plateSubjectTop) * float(p.plateSubjectTop);
        forEachBlock([&](size_t i, size_t c) {
            if (like[i] || dist[i] < minRes || dist[i] < share * far[c] || (!layers && layer[i]))
                return;
            Cell& cell = cells.cells[c];
            cell.sr += purest.r[i], cell.sk += purest.g[i], cell.so += purest.b[i];
            count[c] += 1;
        });
        std::vector<char> valid(g.cells.size());
        for (size_t c = 0; c < g.cells.size(); ++c) {
            if (count[c] > 0) {
                Cell& cell = cells.cells[c];
                cell.sr /= count[c], cell.sk /= count[c], cell.so /= count[c];
                valid[c] = 1;
            }
        }
        fillHoles(valid, cells, kSubjectColour, float(p.neutralSubject));
        return cells;
    };
    own = field(top, true);
    wide = reach > 0 ? field(around, true) : own;
    common = field(std::vector<float>(top.size(), 0.0f), false);
}

// Between the cell rows above and below (weights 1 - ty and ty) and across between cells
// l and h (weights 1 - tx and tx) for the block columns [x0, x1), which all lie between them.
KEYING_KERNEL void mixCells(const float* __restrict above, const float* __restrict below, int l,
                            int h, const float* __restrict tx, float* __restrict out, int x0,
                            int x1, float ty) {
    const float al = above[l], ah = above[h], bl = below[l], bh = below[h];
    for (int x = x0; x < x1; ++x) {
        const float t = tx[x];
        out[x] = (al * (1 - t) + ah * t) * (1 - ty) + (bl * (1 - t) + bh * t) * ty;
    }
}

// A subject field read at the blocks: its colours plane by plane, and where each block column
// lies between cell centres, the same for every block row.
struct SubjectReader {
    const Grid& g;
    std::vector<float> sr, sk, so;  // per cell
    std::vector<int> i0, i1;        // per block column
    std::vector<float> tx;
    std::vector<int> runs;  // first column of each run between the same two cells, and the end

    SubjectReader(const Grid& grid, int blocks) : g(grid) {
        const size_t cells = g.cells.size(), w = static_cast<size_t>(blocks);
        sr.resize(cells), sk.resize(cells), so.resize(cells);
        for (size_t c = 0; c < cells; ++c)
            sr[c] = g.cells[c].sr, sk[c] = g.cells[c].sk, so[c] = g.cells[c].so;
        i0.resize(w), i1.resize(w), tx.resize(w);
        for (int x = 0; x < blocks; ++x) {
            const float fx = (float(x) + 0.5f) / float(g.size) - 0.5f;
            i0[size_t(x)] = std::clamp(int(std::floor(fx)), 0, g.w - 1);
            i1[size_t(x)] = std::min(i0[size_t(x)] + 1, g.w - 1);
            tx[size_t(x)] = std::clamp(fx - float(i0[size_t(x)]), 0.0f, 1.0f);
            if (x == 0 || i0[size_t(x)] != i0[size_t(x) - 1])
                runs.push_back(x);
        }
        runs.push_back(blocks);
    }

    // The field at the blocks of block row y: between cell centres, bilinearly.
    void row(int y, float* r, float* gr, float* b) const {
        const float fy = (float(y) + 0.5f) / float(g.size) - 0.5f;
        const int j0 = std::clamp(int(std::floor(fy)), 0, g.h - 1), j1 = std::min(j0 + 1, g.h - 1);
        const float ty = std::clamp(fy - float(j0), 0.0f, 1.0f);
        const size_t top = size_t(j0) * size_t(g.w), bottom = size_t(j1) * size_t(g.w);
        const auto mix = [&](const std::vector<float>& f, float* out) {
            for (size_t k = 0; k + 1 < runs.size(); ++k) {
                const int x0 = runs[k];
                mixCells(&f[top], &f[bottom], i0[size_t(x0)], i1[size_t(x0)], tx.data(), out, x0,
                         runs[k + 1], ty);
            }
        };
        mix(sr, r), mix(sk, gr), mix(so, b);
    }
};

// Whether P - K (the pixel less the backdrop) is a light neutral layer over K (glass, a veil,
// smoke): P = K + a (n - K), n grey, lighter than the backdrop and at most `maxGrey` (a veil
// in a light a little brighter than the exposure's white reads above 255), within `tol2`
// (squared levels) and a tint of `tint2` (squared, a share of a n: glass has a colour of its
// own); and its cover a. Solved for a and a n by least squares.
struct LightLayer {
    quint32 on;  // 1 or 0: a lane as wide as the pixel's keeps the loops vectorised
    float cover;
};

inline __attribute__((always_inline)) LightLayer lightLayer(float pr, float pg, float pb, float kr,
                                                            float kg, float kb, float tol2,
                                                            float tint2, float maxGrey) {
    const float ks = kr + kg + kb, pd = pr + pg + pb, kd = kr * pr + kg * pg + kb * pb;
    const float k2 = kr * kr + kg * kg + kb * kb;
    const float det = std::max(1.0f, 3.0f * k2 - ks * ks);
    const float nv = (ks * pd - 3.0f * kd) / det, nu = (k2 * pd - ks * kd) / det;
    const float nr = pr - nu + nv * kr, ng = pg - nu + nv * kg, nb = pb - nu + nv * kb;
    const float ky = 0.299f * kr + 0.587f * kg + 0.114f * kb;
    const bool on = (nv > 0.0f) & (nv <= 1.0f) & (nu >= nv * ky) & (nu <= nv * maxGrey) &
                    (nr * nr + ng * ng + nb * nb <= tol2 + tint2 * nu * nu);
    return {on ? 1u : 0u, nv};
}

// A shadow fades in from the lit backdrop: from one block to the next its darkening changes
// by little, even at its rim. A colour of the key's hue but darker (navy on blue) lies on the
// same line from black to the plate, but it meets the backdrop at its outline in one step. So
// only the blocks reached from lit backdrop through such small steps stay shadow-like. A step
// may pass over a few blocks that are not (the stems of a plant before its shadow), the change
// it allows growing with the distance.
void keepShadowsReachedFromBackdrop(const Plane<float>& t, Plane<char>& like, int w, int h,
                                    const SoftKeyParams& p) {
    const float lit = 1.0f - float(p.shadowSeedDepth), step = float(p.shadowStep);
    const int hop = int(p.shadowHop);
    const size_t across = size_t(w);
    // Whether block j, d blocks from block i along a row or column, is a shadow's step from it.
    const auto steps = [&](size_t i, size_t j, int d) {
        return std::abs(t[j] - t[i]) <= step * float(d);
    };
    const auto eachAround = [&](size_t i, auto&& f) {
        const int x = int(i % across), y = int(i / across);
        for (int d = 1; d <= hop; ++d) {
            if (x - d >= 0)
                f(i - size_t(d), d);
            if (x + d < w)
                f(i + size_t(d), d);
            if (y - d >= 0)
                f(i - size_t(d) * across, d);
            if (y + d < h)
                f(i + size_t(d) * across, d);
        }
    };
    Plane<char> reached(like.size());
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * across; i < size_t(y1) * across; ++i)
            reached[i] = like[i] && t[i] >= lit;
    });
    // The lit backdrop is most of a frame: the walk starts from the few shadow-like blocks it
    // touches, not from all of it.
    std::vector<size_t> todo;
    for (size_t i = 0; i < like.size(); ++i) {
        if (!like[i] || reached[i])
            continue;
        bool touches = false;
        eachAround(i,
                   [&](size_t j, int d) { touches = touches || (reached[j] && steps(j, i, d)); });
        if (touches) {
            reached[i] = 1;
            todo.push_back(i);
        }
    }
    while (!todo.empty()) {
        const size_t i = todo.back();
        todo.pop_back();
        eachAround(i, [&](size_t j, int d) {
            if (like[j] && !reached[j] && steps(i, j, d)) {
                reached[j] = 1;
                todo.push_back(j);
            }
        });
    }
    like.swap(reached);
}

// The mean darkening of the shadow-like blocks among the nine about each block x of [1, w - 1)
// of a row, from the rows above, at and below it (t, and whether shadow-like, l), where they
// are at least minShare of the nine; else -1. Summed row by row, left to right.
KEYING_KERNEL void shadeOfNine(const float* __restrict t0, const float* __restrict t1,
                               const float* __restrict t2, const char* __restrict l0,
                               const char* __restrict l1, const char* __restrict l2,
                               float* __restrict out, int w, float minShare) {
    for (int x = 1; x < w - 1; ++x) {
        float sum = 0;
        int count = 0;
        const auto add = [&](const float* t, const char* l, int at) {
            sum += l[at] ? t[at] : 0.0f;
            count += l[at];
        };
        add(t0, l0, x - 1), add(t0, l0, x), add(t0, l0, x + 1);
        add(t1, l1, x - 1), add(t1, l1, x), add(t1, l1, x + 1);
        add(t2, l2, x - 1), add(t2, l2, x), add(t2, l2, x + 1);
        out[x] = count > 0 && float(count) >= minShare * 9.0f ? sum / float(count) : -1.0f;
    }
}

// What a block is against the backdrop behind it, fixed for all blocks of one call.
struct BlockTest {
    float relTol, minFactor, maxBright;  // of the shadow line
    float noise2;                        // squared residual within noise
    float layerTol2, tint2, layerGrey;   // of a light layer
};

// Per block i in [i0, i1): t = its light along the backdrop's colour (at most 1), dist its
// squared distance from the backdrop, like whether it is the backdrop darkened with its hue
// kept, layer whether it is a light layer over it. Unaliased planes keep the loop vectorised.
KEYING_KERNEL void classifyBlocks(const float* __restrict sr, const float* __restrict sg,
                                  const float* __restrict sb, const float* __restrict kr,
                                  const float* __restrict kg, const float* __restrict kb,
                                  float* __restrict t, float* __restrict dist,
                                  char* __restrict like, char* __restrict layer, size_t i0,
                                  size_t i1, const BlockTest c) {
    for (size_t i = i0; i < i1; ++i) {
        const float kk = std::max(1.0f, kr[i] * kr[i] + kg[i] * kg[i] + kb[i] * kb[i]);
        const float f = (sr[i] * kr[i] + sg[i] * kg[i] + sb[i] * kb[i]) / kk;
        const float er = sr[i] - f * kr[i], eg = sg[i] - f * kg[i], eb = sb[i] - f * kb[i];
        const float res = er * er + eg * eg + eb * eb;
        t[i] = std::min(f, 1.0f);
        const float dr = sr[i] - kr[i], dg = sg[i] - kg[i], db = sb[i] - kb[i];
        dist[i] = dr * dr + dg * dg + db * db;
        const float rel = c.relTol * f;
        like[i] =
            char((f >= c.minFactor) & (f <= c.maxBright) & (res <= c.noise2 + rel * rel * kk));
        layer[i] =
            char(lightLayer(dr, dg, db, kr[i], kg[i], kb[i], c.layerTol2, c.tint2, c.layerGrey).on);
    }
}

PlateFields plateFields(const Planes& shot, const Planes& purest, const PlateFit& fit,
                        const SoftKeyParams& p) {
    const Planes& k = fit.backdrop;
    const int w = shot.w, h = shot.h;
    const size_t n = size_t(w) * size_t(h);
    // Block means carry less noise than pixels; half the pixels' is a cautious guess, as
    // the noise of a JPEG is not independent from pixel to pixel.
    const float sigma = float(p.plateNoiseTol) * fit.noise * 0.5f;
    Plane<float> t(n), dist(n);
    Plane<char> like(n), layer(n);
    const float layerTol2 = float(p.plateLayerTol * p.plateLayerTol) * 2 * sigma * sigma,
                tint2 = float(p.plateLayerTint * p.plateLayerTint);
    const BlockTest test{float(p.plateRelTol),
                         float(p.shadowMinFactor),
                         float(p.plateMaxBright),
                         2 * sigma * sigma,
                         layerTol2,
                         tint2,
                         float(p.plateLayerMaxGrey)};
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        const size_t i0 = size_t(y0) * size_t(w), i1 = size_t(y1) * size_t(w);
        classifyBlocks(shot.r.data(), shot.g.data(), shot.b.data(), k.r.data(), k.g.data(),
                       k.b.data(), t.data(), dist.data(), like.data(), layer.data(), i0, i1, test);
    });
    keepShadowsReachedFromBackdrop(t, like, w, h, p);
    PlateFields out;
    out.w = w, out.h = h;
    out.shade.resize(n);
    // The mean darkening of the shadow-like blocks of the 3 x 3 about each block, where there
    // are enough of them. Inside and at the frame's edges alike the sums run row by row, left
    // to right, a block that is not shadow-like adding an exact zero.
    const float minShare = float(p.shadowMinShare);
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const int ny0 = std::max(0, y - 1), ny1 = std::min(h - 1, y + 1);
            float* __restrict o = &out.shade[size_t(y) * size_t(w)];
            const auto at = [&](int x0, int x1) {
                float sum = 0;
                int count = 0;
                for (int ny = ny0; ny <= ny1; ++ny) {
                    const float* __restrict tr = &t[size_t(ny) * size_t(w)];
                    const char* __restrict lr = &like[size_t(ny) * size_t(w)];
                    for (int nx = x0; nx <= x1; ++nx) {
                        sum += lr[nx] ? tr[nx] : 0.0f;
                        count += lr[nx];
                    }
                }
                const int all = (ny1 - ny0 + 1) * (x1 - x0 + 1);
                return count > 0 && float(count) >= minShare * float(all) ? sum / float(count)
                                                                          : -1.0f;
            };
            o[0] = at(0, std::min(w - 1, 1));
            if (ny1 - ny0 == 2) {
                const size_t r0 = size_t(ny0) * size_t(w);
                shadeOfNine(&t[r0], &t[r0 + size_t(w)], &t[r0 + 2 * size_t(w)], &like[r0],
                            &like[r0 + size_t(w)], &like[r0 + 2 * size_t(w)], o, w, minShare);
            } else {
                for (int x = 1; x < w - 1; ++x)
                    o[x] = at(x - 1, x + 1);
            }
            if (w > 1)
                o[w - 1] = at(w - 2, w - 1);
        }
    });

    subjectFields(shot, purest, like, layer, dist, p, out.subject, out.wide, out.common);
    return out;
}

inline float clampTo(float v, float lo, float hi) {
    return std::min(std::max(v, lo), hi);
}

inline float sq(float v) {
    return v * v;
}

// Whether a pixel is the plate darkened with its hue kept, as its blocks are (shadow, or the
// backdrop itself), and what it becomes then: clear, or black with the darkening as alpha.
struct ShadowTest {
    quint32 shadow;  // 1 or 0: a lane as wide as the pixel's keeps the loops
                     // vectorised
    quint32 out;
};

inline __attribute__((always_inline)) ShadowTest shadowTest(quint32 s, quint32 q, float shade,
                                                            const PlateShape& sh) {
    const float sr = float(int((s >> 16) & 0xff)), sg = float(int((s >> 8) & 0xff)),
                sb = float(int(s & 0xff));
    const float kr = sh.gain[0] * float(int((q >> 16) & 0xff)),
                kg = sh.gain[1] * float(int((q >> 8) & 0xff)),
                kb = sh.gain[2] * float(int(q & 0xff));
    const float kk = std::max(1.0f, kr * kr + kg * kg + kb * kb);
    // Brighter than the plate only by the cloth's texture is backdrop too.
    const float t = (sr * kr + sg * kg + sb * kb) / kk;
    const float er = sr - t * kr, eg = sg - t * kg, eb = sb - t * kb;
    const float res = er * er + eg * eg + eb * eb;
    const bool shadow = (t >= sh.minFactor) & (t <= sh.maxBright) &
                        (res <= sh.noiseTol2 + sh.relTol2 * t * t * kk) &
                        (std::abs(std::min(t, 1.0f) - shade) <= sh.gate);
    const float dark = clampTo(1.0f - shade, 0.0f, 1.0f);
    const float floor = sh.keepShadows ? sh.floor : 2.0f;
    return {shadow ? 1u : 0u, dark >= floor ? quint32(int(dark * 255.0f + 0.5f)) << 24 : 0u};
}

// The subject colours about a row's pixels, red, green and blue planes of each: the cell's own,
// the wide one and the common one.
struct SubjectRow {
    const float *fr, *fg, *fb, *wr, *wg, *wb, *mr, *mg, *mb;
    quint32* out;  // scratch of the row's width: the shadow test's pixels
    quint32* is;   // and whether each is shadow
};

// One row: the shot's pixels in place against the plate's under them, with each pixel's
// shade of its blocks and subject colours, from `at` on. Written without branches, so that it
// vectorises.
template <bool Blue>
inline __attribute__((always_inline)) void plateRowOf(quint32* __restrict px,
                                                      const quint32* __restrict plate,
                                                      const float* __restrict shade,
                                                      const SubjectRow& f, int at, int w,
                                                      const PlateShape& sh) {
    const float minFactor = sh.minFactor;
    const float* __restrict fr = f.fr + at;
    const float* __restrict fg = f.fg + at;
    const float* __restrict fb = f.fb + at;
    const float* __restrict wr = f.wr + at;
    const float* __restrict wg = f.wg + at;
    const float* __restrict wb = f.wb + at;
    const float* __restrict mr = f.mr + at;
    const float* __restrict mg = f.mg + at;
    const float* __restrict mb = f.mb + at;
    const quint32* __restrict is = f.is + at;
    const quint32* __restrict shadowOut = f.out + at;
    const float g0 = sh.gain[0], g1 = sh.gain[1], g2 = sh.gain[2];
    const float lr = 0.299f, lg = 0.587f, lb = 0.114f;
    const float layerTol2 = sh.layerTol2, tint2 = sh.layerTint2, layerGrey = sh.layerGrey;
    const float noiseTol2 = sh.noiseTol2, minDen = sh.minDen, lo = sh.lo, scale = sh.scale,
                ulo = std::max(sh.lo, 0.01f), despill = sh.despill;
    for (int x = 0; x < w; ++x) {
        const quint32 s = px[x], q = plate[x];
        const float sr = float(int((s >> 16) & 0xff)), sg = float(int((s >> 8) & 0xff)),
                    sb = float(int(s & 0xff));
        // Where the blocks about the pixel are in shadow, so is the backdrop behind it.
        const float dim = shade[x] >= minFactor ? std::min(shade[x], 1.0f) : 1.0f;
        const float kr = dim * g0 * float(int((q >> 16) & 0xff)),
                    kg = dim * g1 * float(int((q >> 8) & 0xff)),
                    kb = dim * g2 * float(int(q & 0xff));
        // The compositing equation against the plate: the pixel lies a of the way from the
        // backdrop to its subject colour, which is as far from the backdrop as the opaque
        // subject nearby (the noise taken out in quadrature). Where the pixel lies off the
        // line from the backdrop to that subject (a dark strand or an eyebrow on skin, skin
        // beside dark hair) it is no mix of the two, and its own lack of the key's excess
        // over the plate's tells its coverage too; the larger of the two is taken there.
        // Of the two subject colours about the pixel (its cell's own and the farthest of the
        // cells about it) the one whose mix with the backdrop lies nearer the pixel is its
        // subject; the farther one where both explain it within noise, as a fringe's own
        // colour is itself a mix.
        const float pr = sr - kr, pg = sg - kg, pb = sb - kb;
        const float pp = pr * pr + pg * pg + pb * pb;
        const float ar = fr[x] - kr, ag = fg[x] - kg, ab = fb[x] - kb;
        const float aden = std::max(minDen, ar * ar + ag * ag + ab * ab);
        const float aa = clampTo((pr * ar + pg * ag + pb * ab) / aden, 0.0f, 1.0f);
        const float ra = sq(pr - aa * ar) + sq(pg - aa * ag) + sq(pb - aa * ab);
        const float br = wr[x] - kr, bg = wg[x] - kg, bb = wb[x] - kb;
        const float bden = std::max(minDen, br * br + bg * bg + bb * bb);
        const float ba = clampTo((pr * br + pg * bg + pb * bb) / bden, 0.0f, 1.0f);
        const float rb = sq(pr - ba * br) + sq(pg - ba * bg) + sq(pb - ba * bb);
        // The common colour of the cell's subject is taken only where it explains the pixel
        // better than both by more than noise: a cloth near the backdrop's colour beside skin
        // or crossed by a stem, neither of which its pixels are a mix with.
        const float cr0 = mr[x] - kr, cg0 = mg[x] - kg, cb0 = mb[x] - kb;
        const float cden = std::max(minDen, cr0 * cr0 + cg0 * cg0 + cb0 * cb0);
        const float ca = clampTo((pr * cr0 + pg * cg0 + pb * cb0) / cden, 0.0f, 1.0f);
        const float rc = sq(pr - ca * cr0) + sq(pg - ca * cg0) + sq(pb - ca * cb0);
        const bool wide = rb <= ra + noiseTol2;
        const bool common = rc + noiseTol2 < (wide ? rb : ra);
        const float dr = common ? cr0 : (wide ? br : ar), dg = common ? cg0 : (wide ? bg : ag),
                    db = common ? cb0 : (wide ? bb : ab);
        const float den = common ? cden : (wide ? bden : aden);
        const float ratio = std::sqrt(std::max(0.0f, pp - noiseTol2) / den);
        const float along = clampTo(
            (pr * dr + pg * dg + pb * db) / std::sqrt(std::max(1.0f, pp) * den), 0.0f, 1.0f);
        const float pk = Blue ? sb : sg, po = Blue ? sg : sb;
        const float plateEx = std::max(1.0f, (Blue ? kb : kg) - 0.5f * (kr + (Blue ? kg : kb)));
        const float byExcess = 1.0f - clampTo((pk - 0.5f * (sr + po)) / plateEx, 0.0f, 1.0f);
        const float am = along * ratio + (1.0f - along) * std::max(ratio, byExcess);
        // Glass, a veil, smoke: a light neutral layer over the backdrop, P = K + a (n - K) with
        // n grey and lighter than the backdrop. The opaque subject nearby is then often the
        // layer itself where it is thickest, which reads the thinner parts too opaque; where
        // the pixel lies on that plane within noise, with n in range, the layer's own coverage
        // is taken if it is the lower. A dark colour of the key's hue (navy on blue) lies on
        // the plane too, but darker than the backdrop, and keeps its reading.
        const LightLayer ll = lightLayer(pr, pg, pb, kr, kg, kb, layerTol2, tint2, layerGrey);
        const float a = ll.on ? std::min(am, ll.cover) : am;
        const float alpha = clampTo((a - lo) * scale, 0.0f, 1.0f);  // unless shadow, below
        const float ua = clampTo(a, ulo, 1.0f);
        const float inv = 1.0f / ua, back = 1.0f - ua;
        const bool mixed = alpha < 1.0f;
        float cr = mixed ? (sr - back * kr) * inv : sr;
        float cg = mixed ? (sg - back * kg) * inv : sg;
        float cb = mixed ? (sb - back * kb) * inv : sb;
        // Spill: what is left of the backdrop's excess over the other two, taken out along the
        // plate's own colour, its luma kept, so that a neutral stays neutral.
        const float ck = Blue ? cb : cg, co = Blue ? cg : cb;
        const float bk = Blue ? kb : kg, bo = Blue ? kg : kb;
        const float keyEx = std::max(1.0f, bk - 0.5f * (kr + bo));
        const float mu = despill * clampTo((ck - 0.5f * (cr + co)) / keyEx, 0.0f, 1.0f);
        const float ky = lr * kr + lg * kg + lb * kb;
        cr = clampTo(cr - mu * (kr - ky), 0.0f, 255.0f);
        cg = clampTo(cg - mu * (kg - ky), 0.0f, 255.0f);
        cb = clampTo(cb - mu * (kb - ky), 0.0f, 255.0f);
        const int a8 = int(alpha * 255.0f + 0.5f);
        const quint32 kept = (quint32(a8) << 24) | (quint32(int(cr + 0.5f)) << 16) |
                             (quint32(int(cg + 0.5f)) << 8) | quint32(int(cb + 0.5f));
        const quint32 shadow = is[x], dark = shadowOut[x];  // both read: no branch
        px[x] = shadow ? dark : (a8 > 0 ? kept : 0u);
    }
}

// The shadow test over a row, on its own so that it vectorises: what each pixel becomes if
// it is shadow or backdrop, and whether it is.
inline __attribute__((always_inline)) void shadowRowOf(
    const quint32* __restrict px, const quint32* __restrict plate, const float* __restrict shade,
    int w, const PlateShape& sh, quint32* __restrict out, quint32* __restrict is) {
    const PlateShape local = sh;
    for (int x = 0; x < w; ++x) {
        const ShadowTest st = shadowTest(px[x], plate[x], shade[x], local);
        out[x] = st.out;
        is[x] = st.shadow;
    }
}

// The row in runs of 8 pixels: a run that is backdrop or shadow throughout (most of a frame)
// is written from the shadow test alone; the spans of the others are keyed whole.
template <bool Blue>
inline __attribute__((always_inline)) void plateRunsOf(quint32* px, const quint32* plate,
                                                       const float* shade, const SubjectRow& f,
                                                       int w, const PlateShape& sh) {
    quint32* out = f.out;
    quint32* is = f.is;
    shadowRowOf(px, plate, shade, w, sh, out, is);
    constexpr int kRun = 8;
    const auto plain = [&](int x) {
        const int end = std::min(w, x + kRun);
        quint32 all = 1;
        for (int i = x; i < end; ++i)
            all &= is[i];
        return all != 0;
    };
    for (int x = 0; x < w;) {
        if (plain(x)) {
            const int end = std::min(w, x + kRun);
            std::copy(out + x, out + end, px + x);
            x = end;
            continue;
        }
        const int start = x;
        while (x < w && !plain(x))
            x = std::min(w, x + kRun);
        plateRowOf<Blue>(px + start, plate + start, shade + start, f, start, x - start, sh);
    }
}

// One clone per backdrop colour, each with the kernel inlined, so that it is built for every
// target of the dispatch.
KEYING_KERNEL void plateRowGreen(quint32* px, const quint32* plate, const float* shade,
                                 const SubjectRow& f, int w, const PlateShape& sh) {
    plateRunsOf<false>(px, plate, shade, f, w, sh);
}

KEYING_KERNEL void plateRowBlue(quint32* px, const quint32* plate, const float* shade,
                                const SubjectRow& f, int w, const PlateShape& sh) {
    plateRunsOf<true>(px, plate, shade, f, w, sh);
}

void plateRow(quint32* px, const quint32* plate, const float* shade, const SubjectRow& f, int w,
              const PlateShape& sh) {
    (sh.blue ? plateRowBlue : plateRowGreen)(px, plate, shade, f, w, sh);
}

// The shade of the blocks of a pixel row between those of the block rows above and below it
// (weights 1 - ty and ty): a block that is not shadow-like (-1) keeps the pixels beside it
// from being so.
KEYING_KERNEL void shadeBetween(const float* __restrict above, const float* __restrict below,
                                float* __restrict out, int bw, float ty) {
    for (int i = 0; i < bw; ++i)
        out[i] = above[i] < 0 || below[i] < 0 ? -1.0f : above[i] * (1 - ty) + below[i] * ty;
}

// The shade of each pixel of a row between the shades of the blocks about it (`line`), -1
// where either is not shadow-like. Between the centres of blocks m and m + 1 lie the four
// pixels 4m + 2 .. 4m + 5, a quarter of a block apart, in runs that vectorise; the pixels
// before the first centre and past the last read the edge block (i0, i1, tx per pixel).
// `out` holds 4 x bw pixels.
KEYING_KERNEL void shadeAcross(const float* __restrict line, float* __restrict out, int bw, int w,
                               const int* i0, const int* i1, const float* txs) {
    static_assert(kPlateBlock == 4, "the runs between block centres are four pixels long");
    auto at = [&](int x, float u, float v, float tx) {
        out[x] = u < 0 || v < 0 ? -1.0f : u * (1 - tx) + v * tx;
    };
    const int edge = std::min(w, 2);
    for (int x = 0; x < edge; ++x)
        at(x, line[i0[x]], line[i1[x]], txs[x]);
    for (int m = 0; m + 1 < bw; ++m) {
        const float u = line[m], v = line[m + 1];
        at(4 * m + 2, u, v, 0.125f);
        at(4 * m + 3, u, v, 0.375f);
        at(4 * m + 4, u, v, 0.625f);
        at(4 * m + 5, u, v, 0.875f);
    }
    for (int x = std::max(edge, 4 * (bw - 1) + 2); x < w; ++x)
        at(x, line[i0[x]], line[i1[x]], txs[x]);
}

void keyAgainstPlate(QImage& img, const PreparedPlate& plate, const PlateFit& fit,
                     const Planes& shot, const Planes& purest, const KeySettings& s,
                     const SoftKeyParams& p) {
    const PlateFields fields = plateFields(shot, purest, fit, p);
    PlateShape sh;
    for (int c = 0; c < 3; ++c)
        sh.gain[c] = fit.gain[size_t(c)];
    const float tol = float(p.plateNoiseTol) * fit.noise;
    sh.noiseTol2 = 2 * tol * tol;
    sh.layerTol2 = float(p.plateLayerTol * p.plateLayerTol) * sh.noiseTol2;
    sh.layerTint2 = float(p.plateLayerTint * p.plateLayerTint);
    sh.layerGrey = float(p.plateLayerMaxGrey);
    sh.relTol2 = float(p.plateRelTol * p.plateRelTol);
    sh.minFactor = float(p.shadowMinFactor);
    sh.maxBright = float(p.plateMaxBright);
    sh.gate = float(p.shadowGate);
    sh.floor = float(p.shadowFloor);
    sh.minDen = float(p.plateMinContrast * p.plateMinContrast);
    // Positive fine tuning raises the threshold: more of the edges key out.
    sh.lo = std::clamp(
        float(p.plateNoiseFloor) + float(p.fineStep) * float(std::clamp(s.fine, -100, 100)), 0.0f,
        0.5f);
    sh.scale = 1.0f / std::max(0.05f, 1.0f - 2.0f * float(p.plateNoiseFloor));
    sh.despill = s.correctSpill
                     ? std::min(1.0f, float(p.despillBase) +
                                          float(std::clamp(s.spill, 0, 40)) / float(p.despillSpan))
                     : 0.0f;
    sh.keepShadows = s.keepShadows;
    sh.blue = s.backdrop == Backdrop::Blue;

    const int w = img.width(), h = img.height();
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    const Photo pl{plate.smoothed.constBits(), w, h, plate.smoothed.bytesPerLine()};
    const int bw = fields.w, bh = fields.h;
    // Where each pixel sits between block centres across, the same for every row.
    const size_t across = static_cast<size_t>(w);
    std::vector<int> i0s(across), i1s(across);
    std::vector<float> txs(across);
    for (int x = 0; x < w; ++x) {
        const float fx = (float(x) + 0.5f) / kPlateBlock - 0.5f;
        i0s[size_t(x)] = std::clamp(int(std::floor(fx)), 0, bw - 1);
        i1s[size_t(x)] = std::min(i0s[size_t(x)] + 1, bw - 1);
        txs[size_t(x)] = std::clamp(fx - float(i0s[size_t(x)]), 0.0f, 1.0f);
    }
    // The plate's columns under the shot's: a run straight across, the edge repeated.
    const int from = std::clamp(-fit.dx, 0, w), to = std::clamp(w - fit.dx, from, w);
    const SubjectReader ownField(fields.subject, bw), wideField(fields.wide, bw),
        commonField(fields.common, bw);
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        std::vector<quint32> under(static_cast<size_t>(w));
        // The subject colours are written a whole block at a time, past the last pixel too.
        const size_t n = static_cast<size_t>(bw) * kPlateBlock;
        std::vector<float> shade(n), fr(n), fg(n), fb(n), wr(n), wg(n), wb(n), mr(n), mg(n), mb(n);
        std::vector<quint32> shadowOut(n);
        std::vector<quint32> isShadow(n);
        std::vector<float> line(static_cast<size_t>(bw));
        // The two subject fields at the blocks of the current block row.
        const size_t across = static_cast<size_t>(bw);
        std::vector<float> own(3 * across), wider(3 * across), most(3 * across);
        int blockRow = -1;
        for (int y = y0; y < y1; ++y) {
            const quint32* src = pl.row(std::clamp(y + fit.dy, 0, h - 1));
            std::fill(under.begin(), under.begin() + from, src[0]);
            std::copy(src + from + fit.dx, src + to + fit.dx, under.begin() + from);
            std::fill(under.begin() + to, under.end(), src[w - 1]);
            // The shade between block centres, bilinearly; the subject colour of the block.
            const float fy = (float(y) + 0.5f) / kPlateBlock - 0.5f;
            const int j0 = std::clamp(int(std::floor(fy)), 0, bh - 1),
                      j1 = std::min(j0 + 1, bh - 1);
            const float ty = std::clamp(fy - float(j0), 0.0f, 1.0f);
            const float* a = &fields.shade[size_t(j0) * size_t(bw)];
            const float* b = &fields.shade[size_t(j1) * size_t(bw)];
            shadeBetween(a, b, line.data(), bw, ty);
            shadeAcross(line.data(), shade.data(), bw, w, i0s.data(), i1s.data(), txs.data());
            // The subject colours of a block row, the same for its pixel rows.
            if (const int by = std::min(y / kPlateBlock, bh - 1); by != blockRow) {
                blockRow = by;
                ownField.row(by, &own[0], &own[across], &own[2 * across]);
                wideField.row(by, &wider[0], &wider[across], &wider[2 * across]);
                commonField.row(by, &most[0], &most[across], &most[2 * across]);
                const auto spread = [&](const float* from, std::vector<float>& to) {
                    const float* __restrict src = from;
                    float* __restrict dst = to.data();
                    for (int i = 0; i < bw; ++i)
                        for (int j = 0; j < kPlateBlock; ++j)
                            dst[i * kPlateBlock + j] = src[i];
                };
                spread(&own[0], fr), spread(&own[across], fg), spread(&own[2 * across], fb);
                spread(&wider[0], wr), spread(&wider[across], wg), spread(&wider[2 * across], wb);
                spread(&most[0], mr), spread(&most[across], mg), spread(&most[2 * across], mb);
            }
            plateRow(reinterpret_cast<quint32*>(bits + qsizetype(y) * bpl), under.data(),
                     shade.data(),
                     {fr.data(), fg.data(), fb.data(), wr.data(), wg.data(), wb.data(), mr.data(),
                      mg.data(), mb.data(), shadowOut.data(), isShadow.data()},
                     w, sh);
        }
    });
}

}  // namespace
}  // namespace soft

BackdropPlate prepareBackdropPlate(const QImage& turnedPlate) {
    return BackdropPlate{soft::preparePlate(turnedPlate)};
}

PlateOutcome maskOutSoftWithPlate(QImage& img, const BackdropPlate& plate, const KeySettings& s,
                                  const soft::SoftKeyParams& p) {
    PlateOutcome out;
    if (!detail::toArgb32(img))
        return out;
    if (plate.size() != img.size()) {
        out.use = PlateOutcome::Use::WrongSize;
        out.notes = soft::keyWithParams(img, s, p);
        return out;
    }
    const bool blue = s.backdrop == Backdrop::Blue;
    const soft::Photo photo{img.bits(), img.width(), img.height(), img.bytesPerLine()};
    soft::Planes purest;
    const soft::Planes shot = soft::blockMeans(photo, &purest, blue);
    const soft::PlateFit fit = soft::matchPlate(photo, shot, plate.prepared, blue, p);
    out.dx = fit.dx, out.dy = fit.dy, out.gain = fit.gain, out.agreement = fit.agreement;
    if (fit.verdict != soft::PlateFit::Verdict::Fits) {
        out.notes = soft::keyWithParams(img, s, p);
        return out;
    }
    out.use = PlateOutcome::Use::Used;
    soft::keyAgainstPlate(img, plate.prepared, fit, shot, purest, s, p);
    return out;
}

}  // namespace keying
