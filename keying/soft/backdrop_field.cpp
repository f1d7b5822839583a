#include "keying/soft/backdrop_field.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/rows.h"

namespace keying::soft {

float typicalBackdropRatio(const Photo& img, bool blue, const SoftKeyParams& p) {
    constexpr int kBins = 64;
    int hist[kBins] = {};
    int total = 0;
    const int step = std::max(1, std::min(img.width, img.height) / 256);
    for (int y = 0; y < img.height; y += step) {
        const quint32* row = img.row(y);
        for (int x = 0; x < img.width; x += step) {
            const Channels c = split(row[x], blue);
            const float e = float(clearExcess(c.r, c.k, c.o));
            if (float(c.k) < p.typicalMinKey || e <= float(p.typicalMinShare) * float(c.k)) {
                continue;
            }
            ++hist[std::min(kBins - 1, int(e / float(c.k) * kBins))];
            ++total;
        }
    }
    if (total == 0) {
        return -1.0f;
    }
    int seen = 0;
    for (int b = 0; b < kBins; ++b) {
        seen += hist[b];
        if (double(seen) >= p.typicalQuantile * double(total)) {
            return (float(b) + 0.5f) / kBins;
        }
    }
    return float(p.typicalFallback);
}

int sampleStep(const Grid& g, const SoftKeyParams& p) {
    return std::max(1, g.size / int(p.samplesPerCell));
}

std::vector<CellMean> cellMeans(const Photo& img, bool blue, const Grid& g, int step,
                                const SoftKeyParams& p) {
    std::vector<CellMean> means(g.cells.size());
    const float tol = float(p.flatTol);
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        std::vector<Channels> seen;
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                seen.clear();
                int sum[3] = {0, 0, 0};
                visitCell(img, g, bx, by, step, blue, [&](Channels c) {
                    seen.push_back(c);
                    sum[0] += c.r, sum[1] += c.k, sum[2] += c.o;
                });
                if (seen.empty()) {
                    continue;
                }
                CellMean& m = means[size_t(by) * g.w + bx];
                const float n = float(seen.size());
                m.r = float(sum[0]) / n, m.k = float(sum[1]) / n, m.o = float(sum[2]) / n;
                const auto near = std::count_if(seen.begin(), seen.end(), [&](Channels c) {
                    return std::abs(float(c.r) - m.r) + std::abs(float(c.k) - m.k) +
                               std::abs(float(c.o) - m.o) <=
                           tol;
                });
                m.flat = double(near) >= p.flatShare * double(seen.size());
            }
        }
    });
    return means;
}

namespace {

// Whether two flat cells' colours differ only as lighting changes a backdrop between them.
bool smoothStep(const CellMean& a, const CellMean& b, const SoftKeyParams& p) {
    return a.flat && b.flat && a.k > 0.0f && b.k >= 0.8f * a.k && b.k <= 1.25f * a.k &&
           std::abs(a.r / a.k - b.r / b.k) + std::abs(a.o / a.k - b.o / b.k) <= float(p.growHue);
}

// Calls f(j) for the cells left, right, above and below cell i.
template <class F>
void forSides(const Grid& g, size_t i, F&& f) {
    const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
    if (x > 0)
        f(i - 1);
    if (x + 1 < g.w)
        f(i + 1);
    if (y > 0)
        f(i - size_t(g.w));
    if (y + 1 < g.h)
        f(i + size_t(g.w));
}

}  // namespace

std::vector<int> smoothRegions(const Grid& g, const std::vector<CellMean>& means,
                               const SoftKeyParams& p) {
    std::vector<int> region(means.size(), -1);
    std::vector<size_t> stack;
    int next = 0;
    for (size_t start = 0; start < means.size(); ++start) {
        if (region[start] >= 0 || !means[start].flat) {
            continue;
        }
        region[start] = next;
        stack.push_back(start);
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            forSides(g, i, [&](size_t j) {
                if (region[j] < 0 && smoothStep(means[i], means[j], p)) {
                    region[j] = next;
                    stack.push_back(j);
                }
            });
        }
        ++next;
    }
    return region;
}

void growBackdrop(Grid& g, std::vector<char>& measured, const std::vector<CellMean>& means,
                  const SoftKeyParams& p) {
    // A seed must be backdrop throughout: a cell of cloth with a sliver of backdrop is flat
    // and measured by the sliver, and from it the growth would step into the cloth. Its mean's
    // share of excess tells: a sliver's share is diluted by all the cloth.
    std::vector<size_t> stack;
    for (size_t i = 0; i < measured.size(); ++i) {
        const Cell& c = g.cells[i];
        const CellMean& m = means[i];
        if (measured[i] && m.flat &&
            clearExcess(m.r, m.k, m.o) * c.k >=
                float(p.growSeedShare) * clearExcess(c.r, c.k, c.o) * m.k) {
            stack.push_back(i);
        }
    }
    const float least = float(p.growMinExcess);
    while (!stack.empty()) {
        const size_t i = stack.back();
        stack.pop_back();
        forSides(g, i, [&](size_t j) {
            const CellMean& b = means[j];
            if (measured[j] || clearExcess(b.r, b.k, b.o) < least || !smoothStep(means[i], b, p)) {
                return;
            }
            measured[j] = 1;
            Cell& c = g.cells[j];
            c.r = b.r, c.k = b.k, c.o = b.o;
            stack.push_back(j);
        });
    }
}

std::vector<char> darkSubjectCells(const Grid& g, std::vector<char>& measured, float typical,
                                   const std::vector<CellMean>& means, const SoftKeyParams& p) {
    const size_t n = g.cells.size();
    std::vector<char> dark(n, 0);
    auto sureCell = [&](size_t i) {
        const Cell& b = g.cells[i];
        return clearExcess(b.r, b.k, b.o) >= float(p.darkSureShare) * typical * b.k;
    };
    // How far cell a's colour lies from b's dimmed to a's level, as a share of a's key
    // channel; at least darkLevel counts as that level, as a dark cell's colour is coarse
    // (JPEG's chroma steps, noise) and its share would swing.
    auto chroma = [&](size_t a, size_t b) {
        const Cell &u = g.cells[a], &v = g.cells[b];
        const float dim = u.k / v.k;
        return (std::abs(u.r - dim * v.r) + std::abs(u.o - dim * v.o)) /
               std::max(u.k, float(p.darkLevel));
    };
    // The brightest measured cell within `reach` of each.
    auto brightest = [&](int cx, int cy, int reach) {
        size_t bright = size_t(cy) * g.w + cx;
        for (int y = std::max(0, cy - reach); y <= std::min(g.h - 1, cy + reach); ++y) {
            for (int x = std::max(0, cx - reach); x <= std::min(g.w - 1, cx + reach); ++x) {
                const size_t j = size_t(y) * g.w + x;
                if (measured[j] && g.cells[j].k > g.cells[bright].k) {
                    bright = j;
                }
            }
        }
        return bright;
    };
    const int reach = int(p.darkReach);
    std::vector<size_t> stack;
    std::vector<float> around(n, 0.0f);  // the key channel of the brightest further around
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (measured[i]) {
                around[i] = g.cells[brightest(cx, cy, int(p.darkAround))].k;
            }
        }
    }
    // A darker part of the backdrop joins its lighter parts through flat cells by the steps of
    // lighting; a subject is parted from the backdrop by the cells its edge crosses. A region
    // holding a sure backdrop cell as light as the backdrop around it is backdrop throughout
    // (a dark cloth of the key's share is sure too, but darker than all around it).
    const std::vector<int> region = smoothRegions(g, means, p);
    std::vector<char> backdropRegion(n, 0);
    for (size_t i = 0; i < n; ++i) {
        // Judged on the cell's mean, not its measured backdrop: a cell of a cloth with a sliver
        // of backdrop is flat, and its measured backdrop is the sliver's.
        const CellMean& m = means[i];
        if (region[i] >= 0 && measured[i] &&
            clearExcess(m.r, m.k, m.o) >= float(p.darkSureShare) * typical * m.k &&
            m.k >= float(p.anchorRatio) * around[i]) {
            backdropRegion[size_t(region[i])] = 1;
        }
    }
    auto inBackdrop = [&](size_t i) { return region[i] >= 0 && backdropRegion[size_t(region[i])]; };
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (!measured[i]) {
                continue;
            }
            const size_t bright = brightest(cx, cy, reach);
            // Beside a sure backdrop only: one of the typical share, not a mix that passed.
            if (sureCell(bright) && !inBackdrop(i) &&
                g.cells[i].k < float(p.darkRatio) * g.cells[bright].k &&
                chroma(i, bright) > float(p.darkChroma)) {
                dark[i] = 1;
                stack.push_back(i);
            }
        }
    }
    // The rest of such a subject: measured cells of its colour and level joined to it, and
    // darker than the backdrop further around (so that it cannot spread into the backdrop).
    while (!stack.empty()) {
        const size_t i = stack.back();
        stack.pop_back();
        const int x = int(i % size_t(g.w)), y = int(i / size_t(g.w));
        for (int ny = std::max(0, y - 1); ny <= std::min(g.h - 1, y + 1); ++ny) {
            for (int nx = std::max(0, x - 1); nx <= std::min(g.w - 1, x + 1); ++nx) {
                const size_t j = size_t(ny) * g.w + nx;
                const float ratio = g.cells[j].k / g.cells[i].k;
                if (measured[j] && !dark[j] && !inBackdrop(j) && ratio > 0.8f && ratio < 1.25f &&
                    chroma(i, j) < float(p.darkSpread) &&
                    g.cells[j].k < float(p.darkRatio) * around[j]) {
                    dark[j] = 1;
                    stack.push_back(j);
                }
            }
        }
    }
    for (size_t i = 0; i < n; ++i) {
        measured[i] = measured[i] && !dark[i];
    }
    return dark;
}

void dropKeyierSubjects(const Grid& g, std::vector<char>& measured,
                        const std::vector<CellMean>& means, const SoftKeyParams& p) {
    auto share = [](const Cell& c) { return c.k > 0.0f ? clearExcess(c.r, c.k, c.o) / c.k : 0.0f; };
    std::vector<char> keep = measured;
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const size_t i = size_t(cy) * g.w + cx;
            if (!measured[i] || means[i].flat) {
                continue;
            }
            float sum = 0.0f;
            int n = 0;
            for (int y = std::max(0, cy - 1); y <= std::min(g.h - 1, cy + 1); ++y) {
                for (int x = std::max(0, cx - 1); x <= std::min(g.w - 1, cx + 1); ++x) {
                    const size_t j = size_t(y) * g.w + x;
                    if (j != i && measured[j] && means[j].flat) {
                        sum += share(g.cells[j]), ++n;
                    }
                }
            }
            if (n > 0 && share(g.cells[i]) > sum / float(n) + float(p.keyierShare)) {
                keep[i] = 0;
            }
        }
    }
    measured = std::move(keep);
}

bool usableBackdrop(float typical, const std::vector<char>& measured, const SoftKeyParams& p) {
    const auto count = std::count(measured.begin(), measured.end(), char(1));
    return typical >= float(p.usableShare) && count > 0 &&
           double(count) >= p.minBackdropCells * double(measured.size());
}

std::vector<char> measureBackdrop(const Photo& img, bool blue, float typical, Grid& g,
                                  const SoftKeyParams& p) {
    std::vector<char> measured(g.cells.size(), 0);
    const float share = typical < 0.0f ? float(p.typicalFallback) : typical;
    const float confident = float(p.backdropConfidence) * share;
    const int step = sampleStep(g, p);
    const size_t topOneIn = size_t(p.backdropTopOneIn);
    core::forEachRowBand(g.h, qint64(img.width) * g.size, [&](int by0, int by1) {
        std::vector<std::array<int, 4>> picked;  // excess, r, k, o
        for (int by = by0; by < by1; ++by) {
            for (int bx = 0; bx < g.w; ++bx) {
                int samples = 0;
                picked.clear();
                visitCell(img, g, bx, by, step, blue, [&](Channels c) {
                    ++samples;
                    const int e = clearExcess(c.r, c.k, c.o);
                    if (float(c.k) >= p.backdropMinKey && float(e) >= confident * float(c.k)) {
                        picked.push_back({e, c.r, c.k, c.o});
                    }
                });
                if (double(picked.size()) < p.cellMinShare * samples || picked.size() < 2) {
                    continue;
                }
                // Any subject lowers the excess: only the samples near the cell's highest
                // (its top twentieth, as in a thicket few samples are clear backdrop) count.
                const auto top = picked.begin() + std::ptrdiff_t(picked.size() / topOneIn);
                std::nth_element(picked.begin(), top, picked.end(),
                                 [](const auto& a, const auto& b) { return a[0] > b[0]; });
                const float least =
                    float((*top)[0]) * float(p.backdropTopRatio) - float(p.backdropTopSlack);
                double sum[3] = {0, 0, 0};
                int n = 0;
                for (const auto& s : picked) {
                    if (float(s[0]) >= least) {
                        sum[0] += s[1], sum[1] += s[2], sum[2] += s[3], ++n;
                    }
                }
                if (n == 0) {
                    continue;
                }
                Cell& cell = g.cells[size_t(by) * g.w + bx];
                cell.r = float(sum[0] / n), cell.k = float(sum[1] / n), cell.o = float(sum[2] / n);
                measured[size_t(by) * g.w + bx] = 1;
            }
        }
    });
    return measured;
}

}  // namespace keying::soft
