#include "keying/soft/subject_field.h"

#include <algorithm>
#include <array>

#include "core/rows.h"
#include "keying/soft/backdrop_field.h"

namespace keying::soft {

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

void subjectField(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  const SoftKeyParams& p) {
    std::vector<char> valid = measureSubject(img, blue, g, step, keyLike, p);
    unmixSubjects(g, valid, p);
    const bool anySubject = std::any_of(valid.begin(), valid.end(), [](char v) { return v != 0; });
    fillHoles(valid, g, kSubjectColour, float(p.neutralSubject));
    const Luma l = lumaWeights(blue);
    for (Cell& c : g.cells) {
        c.sy = anySubject ? lumaOf(l, c.sr, c.sk, c.so) : lumaOf(l, c.r, c.k, c.o);
    }
}

}  // namespace keying::soft
