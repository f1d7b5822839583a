#include "keying/soft/plate_match.h"

#include <algorithm>
#include <cmath>

#include "core/rows.h"
#include "keying/pixels.h"

namespace keying::soft {

void Planes::resize(int width, int height) {
    w = width, h = height;
    const size_t n = size_t(width) * size_t(height);
    for (Plane<float>* p : {&r, &g, &b}) {
        p->clear();
        p->resize(n);
    }
}

namespace {

// Adds (or, for the first row of a block, sets) each pixel's red and blue, side by side in one
// word's halves (16 pixels of 255 at most fit in 16 bits), and its green to the column sums.
KEYING_KERNEL void sumColumns(const quint32* __restrict row, quint32* __restrict rb,
                              quint32* __restrict g, size_t n, bool add) {
    const quint32 keep = add ? 0xffffffffu : 0u;
    for (size_t x = 0; x < n; ++x) {
        rb[x] = (rb[x] & keep) + (row[x] & 0x00ff00ffu);
        g[x] = (g[x] & keep) + ((row[x] >> 8) & 0xffu);
    }
}

// Per column, the pixel of least key excess (doubledMeanExcess) of a block's rows, as one word
// that orders as that excess: the excess in the top 11 bits, then the pixel's colour at 7 bits
// a channel (half a level is nothing to a subject colour, which is a mean over many blocks).
// The first row of a block sets the word.
KEYING_KERNEL void leastExcessOfColumns(const quint32* __restrict row, quint32* __restrict least,
                                        size_t n, bool blue, bool first) {
    const int keyShift = blue ? 0 : 8, otherShift = blue ? 8 : 0;
    const quint32 keep = first ? 0xffffffffu : 0u;
    for (size_t x = 0; x < n; ++x) {
        const quint32 v = row[x];
        const int ex = doubledMeanExcess(int((v >> 16) & 0xffu), int((v >> keyShift) & 0xffu),
                                         int((v >> otherShift) & 0xffu));
        const quint32 word = (quint32(ex + 512) << 21) | ((v >> 3) & 0x1fc000u) |
                             ((v >> 2) & 0x3f80u) | ((v >> 1) & 0x7fu);
        least[x] = std::min(least[x] | keep, word);
    }
}

}  // namespace

Planes blockMeans(const Photo& img, Planes* purest, bool blue) {
    Planes out;
    out.resize((img.width + kPlateBlock - 1) / kPlateBlock,
               (img.height + kPlateBlock - 1) / kPlateBlock);
    if (purest)
        purest->resize(out.w, out.h);
    // Each block row: the sums of its rows column by column, then of each block's columns; the
    // purest pixels the same way, while the row is at hand.
    core::forEachRowBand(out.h, img.width * kPlateBlock, [&](int by0, int by1) {
        const size_t bw = static_cast<size_t>(out.w), cols = static_cast<size_t>(img.width);
        std::vector<quint32> rb(cols), gs(cols);
        std::vector<quint32> least(purest ? cols : 0);
        for (int by = by0; by < by1; ++by) {
            const int y0 = by * kPlateBlock, y1 = std::min(img.height, y0 + kPlateBlock);
            for (int y = y0; y < y1; ++y) {
                sumColumns(img.row(y), rb.data(), gs.data(), cols, y > y0);
                if (purest)
                    leastExcessOfColumns(img.row(y), least.data(), cols, blue, y == y0);
            }
            for (size_t bx = 0; bx < bw; ++bx) {
                const size_t x0 = bx * kPlateBlock, x1 = std::min(cols, x0 + kPlateBlock);
                quint32 a = 0, g = 0;
                for (size_t x = x0; x < x1; ++x)
                    a += rb[x], g += gs[x];
                const float inv = 1.0f / float(int(x1 - x0) * (y1 - y0));
                const size_t at = size_t(by) * bw + bx;
                out.r[at] = float(a >> 16) * inv;
                out.g[at] = float(g) * inv;
                out.b[at] = float(a & 0xffffu) * inv;
            }
            if (!purest)
                continue;
            for (size_t bx = 0; bx < bw; ++bx) {
                const size_t x0 = bx * kPlateBlock, x1 = std::min(cols, x0 + kPlateBlock);
                quint32 word = least[x0];
                for (size_t x = x0 + 1; x < x1; ++x)
                    word = std::min(word, least[x]);
                const size_t i = size_t(by) * bw + bx;
                purest->r[i] = float(int((word >> 14) & 0x7fu)) * 2.0f + 0.5f;
                purest->g[i] = float(int((word >> 7) & 0x7fu)) * 2.0f + 0.5f;
                purest->b[i] = float(int(word & 0x7fu)) * 2.0f + 0.5f;
            }
        }
    });
    return out;
}

PreparedPlate preparePlate(const QImage& plate) {
    PreparedPlate out;
    QImage src = plate.convertToFormat(QImage::Format_ARGB32);
    if (src.isNull() || src.width() == 0 || src.height() == 0)
        return out;
    const int w = src.width(), h = src.height();
    QImage dst(w, h, QImage::Format_ARGB32);
    if (dst.isNull())
        return out;
    const Photo in{src.constBits(), w, h, src.bytesPerLine()};
    uchar* bits = dst.bits();
    const qsizetype bpl = dst.bytesPerLine();
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        std::vector<int> col(static_cast<size_t>(w + 2) * 3);
        for (int y = y0; y < y1; ++y) {
            const quint32* up = in.row(std::max(0, y - 1));
            const quint32* mid = in.row(y);
            const quint32* down = in.row(std::min(h - 1, y + 1));
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const int shift = 16 - 8 * c;
                    col[size_t(x + 1) * 3 + size_t(c)] = int((up[x] >> shift) & 0xff) +
                                                         2 * int((mid[x] >> shift) & 0xff) +
                                                         int((down[x] >> shift) & 0xff);
                }
            }
            for (int c = 0; c < 3; ++c) {
                col[size_t(c)] = col[3 + size_t(c)];
                col[size_t(w + 1) * 3 + size_t(c)] = col[size_t(w) * 3 + size_t(c)];
            }
            auto* o = reinterpret_cast<quint32*>(bits + qsizetype(y) * bpl);
            for (int x = 0; x < w; ++x) {
                quint32 v = 0xff000000u;
                for (int c = 0; c < 3; ++c) {
                    const size_t i = size_t(x + 1) * 3 + size_t(c);
                    const int sum = col[i - 3] + 2 * col[i] + col[i + 3];
                    v |= quint32((sum + 8) >> 4) << (16 - 8 * c);
                }
                o[x] = v;
            }
        }
    });
    out.smoothed = dst;
    out.blocks = blockMeans(in);
    return out;
}

namespace {

// hued[i] for i in [i0, i1): whether the shot's block has the plate's colour up to its light.
KEYING_KERNEL void markHued(const float* __restrict sr, const float* __restrict sg,
                            const float* __restrict sb, const float* __restrict qr,
                            const float* __restrict qg, const float* __restrict qb,
                            char* __restrict hued, size_t i0, size_t i1, float tol2) {
    for (size_t i = i0; i < i1; ++i) {
        const float ss = sr[i] * sr[i] + sg[i] * sg[i] + sb[i] * sb[i];
        const float kk = qr[i] * qr[i] + qg[i] * qg[i] + qb[i] * qb[i];
        const float sk = sr[i] * qr[i] + sg[i] * qg[i] + sb[i] * qb[i];
        // 2 - 2 cos of the angle between the two colours: the squared distance of their
        // directions.
        hued[i] = char((ss >= 1) & (kk >= 1) & (2.0f - 2.0f * sk / std::sqrt(ss * kk) <= tol2));
    }
}

float excessAt(const Planes& q, size_t i, bool blue) {
    return blue ? clearExcess(q.r[i], q.b[i], q.g[i]) : clearExcess(q.r[i], q.g[i], q.b[i]);
}

// The excess that a tenth of the key-coloured blocks reach (of those `among` holds, when given):
// the backdrop's, in a frame that holds some.
float topExcess(const Planes& q, bool blue, const Plane<char>* among = nullptr) {
    std::vector<float> ex;
    ex.reserve(q.r.size() / 3 + 1);
    for (size_t i = 0; i < q.r.size(); i += 3) {  // a third of the blocks tell it well enough
        const float e = excessAt(q, i, blue);
        if (e > 0 && (!among || (*among)[i]))
            ex.push_back(e);
    }
    if (ex.empty())
        return 0;
    auto at = ex.begin() + std::ptrdiff_t(double(ex.size() - 1) * 0.9);
    std::nth_element(ex.begin(), at, ex.end());
    return *at;
}

// One row of a plane moved by a fraction tx of a block across: between the rows above and
// below (weights 1 - ty and ty), the edges repeated; columns x + fx and x + fx + 1.
KEYING_KERNEL void movedRow(const float* __restrict above, const float* __restrict below,
                            float* __restrict out, int w, int fx, float tx, float ty) {
    auto mix = [&](int x, int a, int b) {
        out[x] = (above[a] * (1 - tx) + above[b] * tx) * (1 - ty) +
                 (below[a] * (1 - tx) + below[b] * tx) * ty;
    };
    // Where both columns lie inside the row, straight across.
    const int first = std::clamp(-fx, 0, w), last = std::clamp(w - 1 - fx, first, w);
    for (int x = 0; x < first; ++x)
        mix(x, std::clamp(x + fx, 0, w - 1), std::clamp(x + fx + 1, 0, w - 1));
    for (int x = first; x < last; ++x)
        mix(x, x + fx, x + fx + 1);
    for (int x = last; x < w; ++x)
        mix(x, std::clamp(x + fx, 0, w - 1), std::clamp(x + fx + 1, 0, w - 1));
}

// Plate blocks moved by (sx, sy) blocks, read bilinearly, the edges repeated.
Planes movedBlocks(const Planes& q, float sx, float sy) {
    Planes out;
    out.resize(q.w, q.h);
    const int fx = int(std::floor(sx)), fy = int(std::floor(sy));
    const float tx = sx - float(fx), ty = sy - float(fy);
    core::forEachRowBand(q.h, q.w, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const size_t above = size_t(std::clamp(y + fy, 0, q.h - 1)) * size_t(q.w);
            const size_t below = size_t(std::clamp(y + fy + 1, 0, q.h - 1)) * size_t(q.w);
            const size_t o = size_t(y) * size_t(q.w);
            movedRow(&q.r[above], &q.r[below], &out.r[o], q.w, fx, tx, ty);
            movedRow(&q.g[above], &q.g[below], &out.g[o], q.w, fx, tx, ty);
            movedRow(&q.b[above], &q.b[below], &out.b[o], q.w, fx, tx, ty);
        }
    });
    return out;
}

// A block agrees with the plate when each channel lies within abs + rel x the plate's, with
// the gains.
struct Agreement {
    float gain[3];
    float abs, rel;
};

KEYING_KERNEL void markAgreeing(const float* __restrict sr, const float* __restrict sg,
                                const float* __restrict sb, const float* __restrict mr,
                                const float* __restrict mg, const float* __restrict mb,
                                const char* __restrict clear, char* __restrict agrees, size_t i0,
                                size_t i1, const Agreement a) {
    for (size_t i = i0; i < i1; ++i) {
        const float wr = a.gain[0] * mr[i], wg = a.gain[1] * mg[i], wb = a.gain[2] * mb[i];
        agrees[i] = char((clear[i] != 0) & (std::abs(sr[i] - wr) <= a.abs + a.rel * wr) &
                         (std::abs(sg[i] - wg) <= a.abs + a.rel * wg) &
                         (std::abs(sb[i] - wb) <= a.abs + a.rel * wb));
    }
}

// The sums of the shot's channels and the plate's over the agreeing blocks: in chunks of a
// fixed size side by side, the chunks' sums added in order, so that the gains do not depend
// on the number of threads.
std::array<double, 6> sumsWhereAgreeing(const Planes& shot, const Planes& moved,
                                        const Plane<char>& agrees) {
    constexpr size_t kChunk = 16384;
    const size_t n = agrees.size(), chunks = (n + kChunk - 1) / kChunk;
    std::vector<std::array<double, 6>> part(chunks);
    core::forEachRowBand(int(chunks), qint64(kChunk), [&](int c0, int c1) {
        for (int c = c0; c < c1; ++c) {
            std::array<double, 6> s{};
            for (size_t i = size_t(c) * kChunk; i < std::min(n, size_t(c + 1) * kChunk); ++i) {
                const double on = agrees[i] ? 1.0 : 0.0;
                s[0] += on * shot.r[i], s[1] += on * shot.g[i], s[2] += on * shot.b[i];
                s[3] += on * moved.r[i], s[4] += on * moved.g[i], s[5] += on * moved.b[i];
            }
            part[size_t(c)] = s;
        }
    });
    std::array<double, 6> sum{};
    for (const auto& s : part)
        for (size_t k = 0; k < 6; ++k)
            sum[k] += s[k];
    return sum;
}

// Of the blocks the fit is judged on, how many there are and how many agree.
struct Tally {
    size_t judged = 0, fitting = 0;
    Tally& operator+=(const Tally& o) {
        judged += o.judged, fitting += o.fitting;
        return *this;
    }
};

// What the fit is judged by: a clear block of at least `sure` excess fits when it agrees with
// the plate, or with the plate darkened with its hue kept (a shadow) down to minFactor.
struct JudgeFit {
    float gain[3];
    float abs, rel;
    float minFactor;
    float sure;
};

KEYING_KERNEL Tally tallyRun(const float* __restrict sr, const float* __restrict sg,
                             const float* __restrict sb, const float* __restrict mr,
                             const float* __restrict mg, const float* __restrict mb,
                             const float* __restrict key, const float* __restrict other,
                             const char* __restrict clear, const char* __restrict agrees, size_t i0,
                             size_t i1, const JudgeFit j) {
    size_t judged = 0, fitting = 0;
    for (size_t i = i0; i < i1; ++i) {
        const float ex = clearExcess(sr[i], key[i], other[i]);
        const bool on = (clear[i] != 0) & (ex >= j.sure);
        const float wr = j.gain[0] * mr[i], wg = j.gain[1] * mg[i], wb = j.gain[2] * mb[i];
        const float kk = wr * wr + wg * wg + wb * wb, sk = wr * sr[i] + wg * sg[i] + wb * sb[i];
        const float f = std::min(1.0f, sk / std::max(1.0f, kk));
        const bool ok = (f >= j.minFactor) & (std::abs(sr[i] - f * wr) <= j.abs + j.rel * f * wr) &
                        (std::abs(sg[i] - f * wg) <= j.abs + j.rel * f * wg) &
                        (std::abs(sb[i] - f * wb) <= j.abs + j.rel * f * wb);
        judged += size_t(on);
        fitting += size_t(on & (ok | (agrees[i] != 0)));
    }
    return {judged, fitting};
}

Tally tallyFit(const Planes& shot, const Planes& moved, const char* clear, const char* agrees,
               bool blue, size_t i0, size_t i1, const JudgeFit& j) {
    const float* key = blue ? shot.b.data() : shot.g.data();
    const float* other = blue ? shot.g.data() : shot.b.data();
    return tallyRun(shot.r.data(), shot.g.data(), shot.b.data(), moved.r.data(), moved.g.data(),
                    moved.b.data(), key, other, clear, agrees, i0, i1, j);
}

// Normalised cross-correlation of two equally long series; -1 where either is flat.
struct Correlation {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    int n = 0;
    void add(double a, double b) {
        sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b, ++n;
    }
    double value() const {
        if (n < 2)
            return -1;
        const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
        if (va <= 1e-9 || vb <= 1e-9)
            return -1;
        return (sab - sa * sb / n) / std::sqrt(va * vb);
    }
};

constexpr int kJpegBlock = 8;  // pixels
constexpr size_t kMedianSamples = 65536;
// Correlation a shift must win by per pixel it lies farther: on a backdrop without texture
// the peak is flat, and the nearer shift is the likelier.
constexpr double kNearer = 2e-3;

struct Point {
    int x, y;   // full resolution, in the shot
    size_t at;  // its block
};

// Calls count(first, last) over the blocks of each band of `rows` rows of `w` blocks, the bands
// side by side, and returns the sum of the counts (integers: the same for any number of bands).
template <class T = size_t, class F>
T countBlocks(int rows, int w, F&& count) {
    const std::vector<core::RowBand> bands = core::rowBands(rows, w);
    std::vector<T> part(bands.size());
    core::runBands(bands, [&](size_t b, const core::RowBand& r) {
        part[b] = count(size_t(r.first) * size_t(w), size_t(r.last) * size_t(w));
    });
    T sum{};
    for (const T& v : part)
        sum += v;
    return sum;
}

// Sets mask[i] = is(i) for every block of `rows` rows of `w`, band by band; returns how many.
template <class F>
size_t markBlocks(int rows, int w, Plane<char>& mask, F&& is) {
    return countBlocks(rows, w, [&](size_t i0, size_t i1) {
        size_t c = 0;
        for (size_t i = i0; i < i1; ++i) {
            mask[i] = is(i);
            c += size_t(mask[i]);
        }
        return c;
    });
}

// The indices of every `every`-th set flag, in order, from the first: counted band by band,
// then each band takes its own from its first rank on, side by side.
std::vector<size_t> everyNth(const Plane<char>& flags, int rows, int w, size_t every) {
    const std::vector<core::RowBand> bands = core::rowBands(rows, w);
    std::vector<size_t> before(bands.size() + 1, 0);
    core::runBands(bands, [&](size_t b, const core::RowBand& r) {
        size_t c = 0;
        for (size_t i = size_t(r.first) * size_t(w); i < size_t(r.last) * size_t(w); ++i)
            c += size_t(flags[i] != 0);
        before[b + 1] = c;
    });
    for (size_t b = 0; b < bands.size(); ++b)
        before[b + 1] += before[b];
    // The flags of ranks 0, every, 2 every, ...: ceil(rank / every) of them lie before a rank.
    const auto takenBefore = [every](size_t rank) { return (rank + every - 1) / every; };
    std::vector<size_t> out(takenBefore(before.back()));
    core::runBands(bands, [&](size_t b, const core::RowBand& r) {
        size_t at = takenBefore(before[b]);
        size_t skip = at * every - before[b];  // set flags to pass before the next taken
        for (size_t i = size_t(r.first) * size_t(w); i < size_t(r.last) * size_t(w); ++i) {
            if (!flags[i])
                continue;
            if (skip > 0) {
                --skip;
                continue;
            }
            out[at++] = i;
            skip = every - 1;
        }
    });
    return out;
}

// The correlation score of every shift, side by side; the caller picks the best in order.
template <class F>
std::vector<double> scoresOf(size_t shifts, size_t points, F&& score) {
    std::vector<double> out(shifts);
    core::forEachRowBand(int(shifts), qint64(points) * 2, [&](int s0, int s1) {
        for (int k = s0; k < s1; ++k)
            out[size_t(k)] = score(size_t(k));
    });
    return out;
}

}  // namespace

PlateFit matchPlate(const Photo& img, const Planes& shot, const PreparedPlate& plate, bool blue,
                    const SoftKeyParams& p) {
    PlateFit fit;
    if (plate.smoothed.width() != img.width || plate.smoothed.height() != img.height) {
        fit.verdict = PlateFit::Verdict::WrongSize;
        return fit;
    }
    const Planes& q = plate.blocks;
    const size_t n = shot.r.size();
    // The shot's backdrop is where its blocks have the colour of the plate's under them, up to
    // their light (a shadow, the exposure): a subject more of the key's colour than a nearly
    // neutral sheet (navy before grey-blue) is not taken for it, whatever its excess. The
    // shift is a few pixels at most, so the block beneath tells the colour well enough.
    const float tol2 = float(p.plateHueTol * p.plateHueTol);
    Plane<char> hued(n);
    core::forEachRowBand(shot.h, shot.w, [&](int y0, int y1) {
        markHued(shot.r.data(), shot.g.data(), shot.b.data(), q.r.data(), q.g.data(), q.b.data(),
                 hued.data(), size_t(y0) * size_t(shot.w), size_t(y1) * size_t(shot.w), tol2);
    });
    // The two tops side by side.
    float tops[2] = {0, 0};
    core::forEachRowBand(2, qint64(n), [&](int t0, int t1) {
        for (int t = t0; t < t1; ++t)
            tops[t] = t == 0 ? topExcess(shot, blue, &hued) : topExcess(q, blue);
    });
    const float shotTop = tops[0];
    const float shotClear = std::max(float(p.plateMinKey), float(p.plateBackdropShare) * shotTop);
    const float plateClear = std::max(float(p.plateMinKey), float(p.plateBackdropShare) * tops[1]);
    Plane<char> clear(n);
    const size_t clearCount = markBlocks(shot.h, shot.w, clear, [&](size_t i) {
        return hued[i] && excessAt(shot, i, blue) >= shotClear;
    });
    if (clearCount == 0 || double(clearCount) < p.plateMinBackdrop * double(n))
        return fit;
    // A plate that hides backdrop the shot shows (a guest left in it, a stand moved) does not
    // fit: blocks of the shot's backdrop colour and excess where the plate's are no backdrop.
    const size_t hidden = countBlocks(shot.h, shot.w, [&](size_t i0, size_t i1) {
        size_t c = 0;
        for (size_t i = i0; i < i1; ++i)
            c += size_t(!hued[i] && excessAt(shot, i, blue) >= shotClear &&
                        excessAt(q, i, blue) < plateClear);
        return c;
    });
    if (double(hidden) > p.plateMaxHidden * double(hidden + clearCount))
        return fit;

    // The points the correlation reads: clear backdrop blocks, evenly thinned.
    const int search = int(p.plateSearch);
    const int reach = (search + kPlateBlock - 1) / kPlateBlock;
    std::vector<Point> points;
    {
        const size_t stride = std::max<size_t>(1, clearCount / size_t(p.plateSamples));
        points.reserve(clearCount / stride + 1);
        size_t skip = 0;  // clear blocks to pass before the next point
        for (int by = 0; by < shot.h; ++by) {
            for (int bx = 0; bx < shot.w; ++bx) {
                const size_t i = size_t(by) * size_t(shot.w) + size_t(bx);
                if (!clear[i])
                    continue;
                if (skip > 0) {
                    --skip;
                    continue;
                }
                skip = stride - 1;
                const int x = std::min(img.width - 1, bx * kPlateBlock + 1);
                const int y = std::min(img.height - 1, by * kPlateBlock + 1);
                points.push_back({x, y, i});
            }
        }
    }
    // The correlation reads each point's steps to the points 8 pixels to its right and below
    // as shares of its own level: the texture and the creases, not the light, so that a
    // shadow in the shot (and not in the plate) does not pull the peak; and over 8 pixels the
    // grid of a JPEG's blocks, the same in both frames, drops out.
    auto steps = [](auto level, int x, int y, int by, double* out) {
        const double v = level(x, y) + 1.0;
        out[0] = (level(x + by, y) - v + 1.0) / v;
        out[1] = (level(x, y + by) - v + 1.0) / v;
    };
    auto blockLevel = [](const Planes& pl) {
        return [&pl](int x, int y) {
            const size_t i = size_t(std::clamp(y, 0, pl.h - 1)) * size_t(pl.w) +
                             size_t(std::clamp(x, 0, pl.w - 1));
            return double(pl.r[i] + pl.g[i] + pl.b[i]);
        };
    };
    std::vector<double> mine(points.size() * 2);
    for (size_t k = 0; k < points.size(); ++k)
        steps(blockLevel(shot), int(points[k].at % size_t(shot.w)),
              int(points[k].at / size_t(shot.w)), kJpegBlock / kPlateBlock, &mine[2 * k]);
    // Coarse, in whole blocks; a nearer shift wins a tie, so a featureless backdrop stays put.
    int cx = 0, cy = 0;
    double best = -1e9;
    {
        const int side = 2 * reach + 1;
        const std::vector<double> scores =
            scoresOf(size_t(side) * size_t(side), points.size(), [&](size_t at) {
                const int sx = int(at % size_t(side)) - reach, sy = int(at / size_t(side)) - reach;
                Correlation c;
                for (size_t k = 0; k < points.size(); ++k) {
                    double theirs[2];
                    steps(blockLevel(q), int(points[k].at % size_t(shot.w)) + sx,
                          int(points[k].at / size_t(shot.w)) + sy, kJpegBlock / kPlateBlock,
                          theirs);
                    c.add(mine[2 * k], theirs[0]);
                    c.add(mine[2 * k + 1], theirs[1]);
                }
                return c.value() - kNearer * kPlateBlock * (std::abs(sx) + std::abs(sy));
            });
        for (size_t at = 0; at < scores.size(); ++at)
            if (scores[at] > best)
                best = scores[at], cx = int(at % size_t(side)) - reach,
                cy = int(at / size_t(side)) - reach;
    }
    // Fine, pixel by pixel about the coarse peak.
    const Photo sm{plate.smoothed.constBits(), img.width, img.height,
                   plate.smoothed.bytesPerLine()};
    auto pixelLevel = [](const Photo& ph) {
        return [&ph](int x, int y) {
            const quint32 v =
                ph.row(std::clamp(y, 0, ph.height - 1))[std::clamp(x, 0, ph.width - 1)];
            return double(((v >> 16) & 0xff) + ((v >> 8) & 0xff) + (v & 0xff));
        };
    };
    for (size_t k = 0; k < points.size(); ++k)
        steps(pixelLevel(img), points[k].x, points[k].y, kJpegBlock, &mine[2 * k]);
    best = -1e9;
    const int span = kPlateBlock - 1;
    const int x0 = std::max(-search, cx * kPlateBlock - span),
              x1 = std::min(search, cx * kPlateBlock + span);
    const int y0 = std::max(-search, cy * kPlateBlock - span),
              y1 = std::min(search, cy * kPlateBlock + span);
    const size_t across = size_t(std::max(0, x1 - x0 + 1)), down = size_t(std::max(0, y1 - y0 + 1));
    const std::vector<double> scores = scoresOf(across * down, points.size(), [&](size_t at) {
        const int dx = x0 + int(at % across), dy = y0 + int(at / across);
        Correlation c;
        for (size_t k = 0; k < points.size(); ++k) {
            double theirs[2];
            steps(pixelLevel(sm), points[k].x + dx, points[k].y + dy, kJpegBlock, theirs);
            c.add(mine[2 * k], theirs[0]);
            c.add(mine[2 * k + 1], theirs[1]);
        }
        return c.value() - kNearer * (std::abs(dx) + std::abs(dy));
    });
    for (size_t at = 0; at < scores.size(); ++at)
        if (scores[at] > best)
            best = scores[at], fit.dx = x0 + int(at % across), fit.dy = y0 + int(at / across);

    // Gains from blocks clear in both: the median ratio first, then the ratio of the sums over
    // the blocks that agree with it (a shadow or a subject's rim does not pull it).
    Planes moved = movedBlocks(q, float(fit.dx) / kPlateBlock, float(fit.dy) / kPlateBlock);
    const Plane<float>* sp[3] = {&shot.r, &shot.g, &shot.b};
    const Plane<float>* mp[3] = {&moved.r, &moved.g, &moved.b};
    Plane<char> inBoth(n);
    const size_t bothCount = markBlocks(shot.h, shot.w, inBoth, [&](size_t i) {
        return clear[i] && excessAt(moved, i, blue) >= plateClear;
    });
    if (bothCount == 0)
        return fit;
    // The three channels' medians side by side, one band each, each over an even sample of
    // at most kMedianSamples blocks (every `every`-th of those clear in both, in order): the
    // median of a million ratios is that of 65536 to well within the refinement below.
    const size_t every = std::max<size_t>(1, bothCount / kMedianSamples);
    const std::vector<size_t> sample = everyNth(inBoth, shot.h, shot.w, every);
    core::forEachRowBand(3, qint64(sample.size()) * qint64(every), [&](int c0, int c1) {
        for (int c = c0; c < c1; ++c) {
            std::vector<float> ratio;
            ratio.reserve(sample.size());
            for (const size_t i : sample)
                if ((*mp[c])[i] >= 4.0f)
                    ratio.push_back((*sp[c])[i] / (*mp[c])[i]);
            if (ratio.empty())
                continue;
            auto mid = ratio.begin() + std::ptrdiff_t(ratio.size() / 2);
            std::nth_element(ratio.begin(), mid, ratio.end());
            fit.gain[size_t(c)] = *mid;
        }
    });
    Plane<char> agrees(n);
    auto agreement = [&] {
        const Agreement a{{fit.gain[0], fit.gain[1], fit.gain[2]},
                          float(p.plateAgreeAbs),
                          float(p.plateAgreeRel)};
        core::forEachRowBand(shot.h, shot.w, [&](int y0, int y1) {
            markAgreeing(shot.r.data(), shot.g.data(), shot.b.data(), moved.r.data(),
                         moved.g.data(), moved.b.data(), clear.data(), agrees.data(),
                         size_t(y0) * size_t(shot.w), size_t(y1) * size_t(shot.w), a);
        });
    };
    agreement();
    {
        const std::array<double, 6> sums = sumsWhereAgreeing(shot, moved, agrees);
        for (size_t c = 0; c < 3; ++c)
            if (sums[3 + c] > 0)
                fit.gain[c] = float(sums[c] / sums[3 + c]);
    }
    // The plate of this set-up drifts only a little in exposure and white balance.
    const auto [least, most] = std::minmax({fit.gain[0], fit.gain[1], fit.gain[2]});
    if (least * float(p.plateMaxGain) < 1.0f || most > float(p.plateMaxGain) ||
        most > least * float(1 + p.plateMaxTint))
        return fit;
    // Agreeing blocks: the plate with gains, or that darkened with its hue kept (a shadow).
    agreement();
    // Judged on the blocks that are surely backdrop: a fringe of hair or a glass over the
    // backdrop may pass as clear, and the plate rightly disagrees with it.
    const float sure = std::max(shotClear, float(p.plateFitShare) * shotTop);
    const JudgeFit judge{{fit.gain[0], fit.gain[1], fit.gain[2]},
                         float(p.plateAgreeAbs),
                         float(p.plateAgreeRel),
                         float(p.shadowMinFactor),
                         sure};
    const Tally tally = countBlocks<Tally>(shot.h, shot.w, [&](size_t i0, size_t i1) {
        return tallyFit(shot, moved, clear.data(), agrees.data(), blue, i0, i1, judge);
    });
    fit.agreement = float(double(tally.fitting) / double(std::max<size_t>(1, tally.judged)));
    if (fit.agreement < float(p.plateMinAgreement))
        return fit;

    // The noise the key must tolerate: shot against the smoothed plate, pixel by pixel.
    std::vector<float> dev;
    dev.reserve(points.size() * 3);
    for (const Point& pt : points) {
        if (!agrees[pt.at])
            continue;
        const quint32 s = img.row(pt.y)[pt.x];
        const quint32 v = sm.row(std::clamp(
            pt.y + fit.dy, 0, img.height - 1))[std::clamp(pt.x + fit.dx, 0, img.width - 1)];
        for (int c = 0; c < 3; ++c) {
            const int shift = 16 - 8 * c;
            dev.push_back(std::abs(float((s >> shift) & 0xff) -
                                   fit.gain[size_t(c)] * float((v >> shift) & 0xff)));
        }
    }
    if (!dev.empty()) {
        auto mid = dev.begin() + std::ptrdiff_t(dev.size() / 2);
        std::nth_element(dev.begin(), mid, dev.end());
        fit.noise = 1.4826f * *mid;
    }
    fit.noise = std::max(fit.noise, 0.5f);
    // The moved plate is read no more: it becomes the backdrop in place.
    core::forEachRowBand(moved.h, moved.w, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * size_t(moved.w); i < size_t(y1) * size_t(moved.w); ++i) {
            moved.r[i] *= fit.gain[0];
            moved.g[i] *= fit.gain[1];
            moved.b[i] *= fit.gain[2];
        }
    });
    fit.backdrop = std::move(moved);
    fit.verdict = PlateFit::Verdict::Fits;
    return fit;
}

}  // namespace keying::soft
