#include "keying/soft/subject_field.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "core/rows.h"

namespace keying::soft {

std::vector<char> solidSubjectCells(const Grid& g, const std::vector<char>& measured,
                                    const std::vector<CellMean>& means, const SoftKeyParams& p) {
    std::vector<char> solid(g.cells.size(), 0);
    const float least = float(p.solidOffLayer);
    for (size_t i = 0; i < g.cells.size(); ++i) {
        const Cell& k = g.cells[i];
        const CellMean& m = means[i];
        if (measured[i] || !m.flat) {
            continue;
        }
        // The plane's normal: K x (1, 1, 1).
        const float n[3] = {k.k - k.o, k.o - k.r, k.r - k.k};
        const float nn = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        const float d = (m.r - k.r) * n[0] + (m.k - k.k) * n[1] + (m.o - k.o) * n[2];
        solid[i] = nn > 0.0f && d * d >= least * least * nn;
    }
    return solid;
}

std::vector<char> measureSubject(const Photo& img, bool blue, Grid& g, int step,
                                 const std::vector<char>& keyLike, const SoftKeyParams& p) {
    std::vector<char> measured(g.cells.size(), 0);
    const float maxShare = float(p.subjectMaxShare), slack = float(p.subjectSlack);
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        std::vector<std::array<int, 4>> picked;  // excess, r, k, o
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                const float ke = clearExcess(cell.r, cell.k, cell.o);
                const float share = keyLike.empty() || !keyLike[size_t(by) * g.w + bx]
                                        ? maxShare
                                        : float(p.darkSubjectShare);
                int samples = 0;
                picked.clear();
                visitCell(img, g, bx, by, step, blue, [&](Channels c) {
                    ++samples;
                    const int e = clearExcess(c.r, c.k, c.o);
                    if (float(e) <= share * ke) {
                        picked.push_back({e, c.r, c.k, c.o});
                    }
                });
                if (double(picked.size()) < p.cellMinShare * samples || picked.empty()) {
                    continue;
                }
                const auto rank =
                    picked.begin() + std::ptrdiff_t(double(picked.size()) * p.subjectDecile);
                std::nth_element(picked.begin(), rank, picked.end(),
                                 [](const auto& a, const auto& b) { return a[0] < b[0]; });
                const float most = float((*rank)[0]) + slack * ke;
                double sum[3] = {0, 0, 0};
                int n = 0;
                for (const auto& s : picked) {
                    if (float(s[0]) <= most) {
                        sum[0] += s[1], sum[1] += s[2], sum[2] += s[3], ++n;
                    }
                }
                // Where the backdrop's own excess is negative (a fill or a see-through patch can
                // leave it so) the room above the most subject-like sample is negative too and
                // may hold none: such a cell tells nothing of the subject.
                if (n == 0) {
                    continue;
                }
                cell.sr = float(sum[0] / n), cell.sk = float(sum[1] / n);
                cell.so = float(sum[2] / n);
                measured[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    return measured;
}

void unmixSubjects(Grid& g, const std::vector<char>& valid, const SoftKeyParams& p) {
    const int reach = int(p.unmixReach);
    const float offLine = float(p.unmixOffLine), shortOf = float(p.unmixShort);
    std::vector<Cell> out = g.cells;
    auto excess = [](const Cell& c) { return clearExcess(c.sr, c.sk, c.so); };
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (!valid[i]) {
                continue;
            }
            size_t best = i;
            for (int y = std::max(0, cy - reach); y <= std::min(g.h - 1, cy + reach); ++y) {
                for (int x = std::max(0, cx - reach); x <= std::min(g.w - 1, cx + reach); ++x) {
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
            if (t < shortOf && off < offLine * offLine) {
                out[i].sr = f.sr, out[i].sk = f.sk, out[i].so = f.so;
            }
        }
    }
    g.cells = std::move(out);
}

void carryKeyLike(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  std::vector<char>& valid, const SoftKeyParams& p) {
    const std::vector<Cell> from = g.cells;
    const std::vector<char> was = valid;
    const float tol = float(p.flatTol);
    // The first key-like neighbour of cell (bx, by) that enough of its samples match, or -1.
    auto carrier = [&](int bx, int by) -> std::ptrdiff_t {
        for (int y = std::max(0, by - 1); y <= std::min(g.h - 1, by + 1); ++y) {
            for (int x = std::max(0, bx - 1); x <= std::min(g.w - 1, bx + 1); ++x) {
                const size_t j = size_t(y) * g.w + x;
                if (!keyLike[j] || !was[j]) {
                    continue;
                }
                const Cell& s = from[j];
                int near = 0, samples = 0;
                visitCell(img, g, bx, by, step, blue, [&](Channels c) {
                    ++samples;
                    near += std::abs(float(c.r) - s.sr) + std::abs(float(c.k) - s.sk) +
                                std::abs(float(c.o) - s.so) <=
                            tol;
                });
                if (samples > 0 && double(near) >= p.carryShare * samples) {
                    return std::ptrdiff_t(j);
                }
            }
        }
        return -1;
    };
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                const size_t i = size_t(by) * g.w + bx;
                const std::ptrdiff_t j = keyLike[i] ? -1 : carrier(bx, by);
                if (j >= 0) {
                    const Cell& s = from[size_t(j)];
                    Cell& c = g.cells[i];
                    c.sr = s.sr, c.sk = s.sk, c.so = s.so;
                    valid[i] = 1;
                }
            }
        }
    });
}

void subjectField(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  const SoftKeyParams& p) {
    std::vector<char> valid = measureSubject(img, blue, g, step, keyLike, p);
    carryKeyLike(img, blue, g, step, keyLike, valid, p);
    unmixSubjects(g, valid, p);
    const bool anySubject = std::any_of(valid.begin(), valid.end(), [](char v) { return v != 0; });
    fillHoles(valid, g, kSubjectColour, float(p.neutralSubject));
    const Luma l = lumaWeights(blue);
    for (Cell& c : g.cells) {
        c.sy = anySubject ? lumaOf(l, c.sr, c.sk, c.so) : lumaOf(l, c.r, c.k, c.o);
    }
}

}  // namespace keying::soft
