#include "keying/soft/plate_match.h"

#include <algorithm>
#include <cmath>

#include "core/rows.h"

namespace keying::soft {

void Planes::resize(int width, int height) {
    w = width, h = height;
    const size_t n = size_t(width) * size_t(height);
    r.assign(n, 0.0f), g.assign(n, 0.0f), b.assign(n, 0.0f);
}

Planes blockMeans(const Photo& img) {
    Planes out;
    out.resize((img.width + kPlateBlock - 1) / kPlateBlock,
               (img.height + kPlateBlock - 1) / kPlateBlock);
    // The sums in integers, red and blue side by side in one word's halves (16 pixels of 255
    // at most fit in 16 bits), so that the loop is two masks and two adds a pixel.
    const int whole = img.width / kPlateBlock;
    core::forEachRowBand(out.h, img.width * kPlateBlock, [&](int by0, int by1) {
        const size_t bw = static_cast<size_t>(out.w);
        std::vector<quint32> rb(bw), gs(bw);
        for (int by = by0; by < by1; ++by) {
            std::fill(rb.begin(), rb.end(), 0u);
            std::fill(gs.begin(), gs.end(), 0u);
            const int y0 = by * kPlateBlock, y1 = std::min(img.height, y0 + kPlateBlock);
            for (int y = y0; y < y1; ++y) {
                const quint32* __restrict row = img.row(y);
                quint32* __restrict prb = rb.data();
                quint32* __restrict pg = gs.data();
                for (int bx = 0; bx < whole; ++bx) {
                    quint32 a = 0, g = 0;
                    for (int j = 0; j < kPlateBlock; ++j) {
                        const quint32 v = row[bx * kPlateBlock + j];
                        a += v & 0x00ff00ffu;
                        g += (v >> 8) & 0xffu;
                    }
                    prb[bx] += a;
                    pg[bx] += g;
                }
                for (int x = whole * kPlateBlock; x < img.width; ++x) {
                    prb[whole] += row[x] & 0x00ff00ffu;
                    pg[whole] += (row[x] >> 8) & 0xffu;
                }
            }
            for (int bx = 0; bx < out.w; ++bx) {
                const int cols = std::min(img.width, (bx + 1) * kPlateBlock) - bx * kPlateBlock;
                const float inv = 1.0f / float(cols * (y1 - y0));
                const size_t at = size_t(by) * size_t(out.w) + size_t(bx);
                out.r[at] = float(rb[size_t(bx)] >> 16) * inv;
                out.g[at] = float(gs[size_t(bx)]) * inv;
                out.b[at] = float(rb[size_t(bx)] & 0xffffu) * inv;
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

float excessAt(const Planes& q, size_t i, bool blue) {
    return blue ? clearExcess(q.r[i], q.b[i], q.g[i]) : clearExcess(q.r[i], q.g[i], q.b[i]);
}

// The excess that a tenth of the key-coloured blocks reach (of those `among` holds, when given):
// the backdrop's, in a frame that holds some.
float topExcess(const Planes& q, bool blue, const std::vector<char>* among = nullptr) {
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

// Plate blocks moved by (sx, sy) blocks, read bilinearly, the edges repeated.
Planes movedBlocks(const Planes& q, float sx, float sy) {
    Planes out;
    out.resize(q.w, q.h);
    const int fx = int(std::floor(sx)), fy = int(std::floor(sy));
    const float tx = sx - float(fx), ty = sy - float(fy);
    auto at = [&](int x, int y) {
        return size_t(std::clamp(y, 0, q.h - 1)) * size_t(q.w) + size_t(std::clamp(x, 0, q.w - 1));
    };
    core::forEachRowBand(q.h, q.w, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < q.w; ++x) {
                const size_t a = at(x + fx, y + fy), b = at(x + fx + 1, y + fy);
                const size_t c = at(x + fx, y + fy + 1), d = at(x + fx + 1, y + fy + 1);
                const size_t o = size_t(y) * size_t(q.w) + size_t(x);
                auto mix = [&](const std::vector<float>& p) {
                    return (p[a] * (1 - tx) + p[b] * tx) * (1 - ty) +
                           (p[c] * (1 - tx) + p[d] * tx) * ty;
                };
                out.r[o] = mix(q.r), out.g[o] = mix(q.g), out.b[o] = mix(q.b);
            }
        }
    });
    return out;
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
size_t markBlocks(int rows, int w, std::vector<char>& mask, F&& is) {
    return countBlocks(rows, w, [&](size_t i0, size_t i1) {
        size_t c = 0;
        for (size_t i = i0; i < i1; ++i) {
            mask[i] = is(i);
            c += size_t(mask[i]);
        }
        return c;
    });
}

// Of the blocks the fit is judged on, how many there are and how many agree.
struct Tally {
    size_t judged = 0, fitting = 0;
    Tally& operator+=(const Tally& o) {
        judged += o.judged, fitting += o.fitting;
        return *this;
    }
};

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
    std::vector<char> hued(n);
    core::forEachRowBand(shot.h, shot.w, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * size_t(shot.w); i < size_t(y1) * size_t(shot.w); ++i) {
            const float ss = shot.r[i] * shot.r[i] + shot.g[i] * shot.g[i] + shot.b[i] * shot.b[i];
            const float kk = q.r[i] * q.r[i] + q.g[i] * q.g[i] + q.b[i] * q.b[i];
            const float sk = shot.r[i] * q.r[i] + shot.g[i] * q.g[i] + shot.b[i] * q.b[i];
            // 2 - 2 cos of the angle between the two colours: the squared distance of their
            // directions.
            hued[i] = ss >= 1 && kk >= 1 && 2.0f - 2.0f * sk / std::sqrt(ss * kk) <= tol2;
        }
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
    std::vector<char> clear(n);
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
        size_t seen = 0;
        for (int by = 0; by < shot.h; ++by) {
            for (int bx = 0; bx < shot.w; ++bx) {
                const size_t i = size_t(by) * size_t(shot.w) + size_t(bx);
                if (!clear[i] || seen++ % stride != 0)
                    continue;
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
    const std::vector<float>* sp[3] = {&shot.r, &shot.g, &shot.b};
    const std::vector<float>* mp[3] = {&moved.r, &moved.g, &moved.b};
    std::vector<char> inBoth(n);
    const size_t bothCount = markBlocks(shot.h, shot.w, inBoth, [&](size_t i) {
        return clear[i] && excessAt(moved, i, blue) >= plateClear;
    });
    if (bothCount == 0)
        return fit;
    // The three channels' medians side by side, one band each, each over an even sample of
    // at most kMedianSamples blocks (every `every`-th of those clear in both, in order): the
    // median of a million ratios is that of 65536 to well within the refinement below. The
    // sample is gathered without a branch: every block is written, and the end moves on past
    // those taken.
    const size_t every = std::max<size_t>(1, bothCount / kMedianSamples);
    std::vector<size_t> sample(bothCount / every + 2);
    {
        size_t end = 0, rank = 0, next = 0;
        for (size_t i = 0; i < n; ++i) {
            const size_t in = size_t(inBoth[i]), take = in & size_t(rank == next);
            sample[end] = i;
            end += take, next += take * every, rank += in;
        }
        sample.resize(end);
    }
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
    std::vector<char> agrees(n);
    auto agreement = [&] {
        return markBlocks(shot.h, shot.w, agrees, [&](size_t i) {
            bool ok = clear[i];
            for (int c = 0; c < 3 && ok; ++c) {
                const float want = fit.gain[size_t(c)] * (*mp[c])[i];
                ok = std::abs((*sp[c])[i] - want) <=
                     float(p.plateAgreeAbs) + float(p.plateAgreeRel) * want;
            }
            return ok;
        });
    };
    if (agreement() > 0) {
        for (int c = 0; c < 3; ++c) {
            double s = 0, m = 0;
            for (size_t i = 0; i < n; ++i)
                if (agrees[i])
                    s += (*sp[c])[i], m += (*mp[c])[i];
            if (m > 0)
                fit.gain[size_t(c)] = float(s / m);
        }
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
    const Tally tally = countBlocks<Tally>(shot.h, shot.w, [&](size_t i0, size_t i1) {
        Tally t;
        for (size_t i = i0; i < i1; ++i) {
            if (!clear[i] || excessAt(shot, i, blue) < sure)
                continue;
            ++t.judged;
            float want[3], kk = 0, sk = 0;
            for (int c = 0; c < 3; ++c) {
                want[c] = fit.gain[size_t(c)] * (*mp[c])[i];
                kk += want[c] * want[c], sk += want[c] * (*sp[c])[i];
            }
            const float f = std::min(1.0f, sk / std::max(1.0f, kk));
            bool ok = f >= float(p.shadowMinFactor);
            for (int c = 0; c < 3 && ok; ++c)
                ok = std::abs((*sp[c])[i] - f * want[c]) <=
                     float(p.plateAgreeAbs) + float(p.plateAgreeRel) * f * want[c];
            t.fitting += size_t(ok || agrees[i]);
        }
        return t;
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
