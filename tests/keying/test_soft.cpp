// Magic Number 10: its parameter table, a dark subject of the key's colour, and invariants over a
// table of hostile frames. Its output on real frames is held by the soft_keyer_outputs hashes.
#include <gtest/gtest.h>

#include <QImage>
#include <QThreadPool>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>

#include "keying/keyer.h"
#include "keying/soft/backdrop_field.h"
#include "keying/soft/soft_key.h"
#include "keying/soft/subject_field.h"

using namespace keying::soft;

namespace {

constexpr QRgb kGreen = qRgb(50, 180, 80), kBlue = qRgb(40, 80, 190);

Photo view(const QImage& img) {
    return {img.constBits(), img.width(), img.height(), img.bytesPerLine()};
}

QImage filled(int w, int h, const std::function<QRgb(int, int)>& at) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            row[x] = at(x, y);
        }
    }
    return img;
}

QRgb mix(QRgb f, QRgb b, double a) {
    auto c = [&](int (*ch)(QRgb)) { return int(std::lround(a * ch(f) + (1 - a) * ch(b))); };
    return qRgb(c(qRed), c(qGreen), c(qBlue));
}

QRgb scaled(QRgb c, double l) {
    auto s = [&](int v) { return std::clamp(int(std::lround(v * l)), 0, 255); };
    return qRgb(s(qRed(c)), s(qGreen(c)), s(qBlue(c)));
}

}  // namespace

TEST(SoftParams, EveryDefaultInItsRangeAndEveryNameOnce) {
    size_t n = 0;
    const ParamInfo* table = paramTable(&n);
    ASSERT_GT(n, 40u);
    std::set<std::string> names;
    const SoftKeyParams defaults;
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(table[i].name);
        EXPECT_TRUE(names.insert(table[i].name).second);
        EXPECT_LE(table[i].least, table[i].def);
        EXPECT_LE(table[i].def, table[i].most);
        EXPECT_EQ(defaults.*table[i].field, table[i].def);
        // Out of range or NaN, a value comes back into its range.
        for (double wild : {table[i].least - 1e6, table[i].most + 1e6, double(NAN)}) {
            SoftKeyParams p;
            p.*table[i].field = wild;
            const double v = clampedParams(p).*table[i].field;
            EXPECT_TRUE(v >= table[i].least && v <= table[i].most) << wild << " gave " << v;
        }
    }
}

TEST(SoftBackdropField, ThePaleSideOfADriftingScreenIsGrownIntoAndNoSubjectIs) {
    // 512 x 320 in cells of 8: a green screen drifting to a pale grey-green at the left, whose
    // excess share falls short of the typical one, and a patch on that side over cells 2..17
    // x 12..27 (four pixels further where its edge is to cross cells). A cloth with a rounded
    // corner lies on the clear side, over cells 46..61: the cells along its top edge hold 5, 4,
    // 3, 2 and 1 pixels of screen, flat, the first two measured by that screen, and each a
    // small step of colour from the next.
    const SoftKeyParams p;
    const QRgb pale = qRgb(120, 150, 135);
    auto screen = [&](int x) { return mix(kGreen, pale, x / 511.0); };
    const struct {
        const char* what;
        std::function<QRgb(int)> patch;  // its colour by x, over the screen's there
        bool midCell;                    // its edge crosses cells rather than lying between
        bool rounded;                    // its top-left corner is cut off
    } cases[] = {
        {"a teal cloth", [](int) { return qRgb(60, 150, 140); }, true, false},
        {"a teal cloth with a rounded corner", [](int) { return qRgb(60, 150, 140); }, false, true},
        {"a cloth of the screen's hue 0.7 as light", [&](int x) { return scaled(screen(x), 0.7); },
         true, false},
        {"a cloth of the screen's hue half as light", [&](int x) { return scaled(screen(x), 0.5); },
         false, false},
        {"a brown box", [](int) { return qRgb(140, 90, 60); }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int lo = c.midCell ? 4 : 0, left = c.rounded ? 46 : 2;
        auto inPatch = [&](int x, int y) {
            const int x0 = left * 8 + lo, y0 = 96 + lo;
            const int cell = (x - x0) / 8;
            const bool cut = c.rounded && y == y0 && cell < 5 && (x - x0) % 8 < 5 - cell;
            return x >= x0 && x < x0 + 128 && y >= y0 && y < y0 + 128 && !cut;
        };
        const QImage img =
            filled(512, 320, [&](int x, int y) { return inPatch(x, y) ? c.patch(x) : screen(x); });
        Grid g = makeGrid(512, 320, p);
        ASSERT_EQ(g.size, 8);
        const float typical = typicalBackdropRatio(view(img), false, p);
        std::vector<char> measured = measureBackdrop(view(img), false, typical, g, p);
        const size_t paleCell = size_t(20) * g.w + 1;
        ASSERT_FALSE(measured[paleCell]) << "the pale side falls short of the share test";
        growBackdrop(g, measured, cellMeans(view(img), false, g, sampleStep(g, p), p), p);
        EXPECT_TRUE(measured[paleCell]);
        EXPECT_NEAR(g.cells[paleCell].k, 150, 4) << "its own colour, not the filled one";
        // A cell along the corner may be measured by its screen, as long as what it holds is
        // the screen's colour.
        for (int cy = 13; cy < 27; ++cy) {
            for (int cx = left + 1; cx < left + 15; ++cx) {
                const Cell& b = g.cells[size_t(cy) * g.w + cx];
                ASSERT_TRUE(!measured[size_t(cy) * g.w + cx] ||
                            std::abs(b.k - float(qGreen(screen(cx * 8 + 4)))) < 6)
                    << cx << "," << cy << " holds " << b.r << "," << b.k << "," << b.o;
            }
        }
    }
}

TEST(SoftBackdropField, ACellMeasuredByASubjectOfMoreKeyColourThanTheSheetIsDropped) {
    // 3 x 3 cells, measured, of a pale sheet (100, 136, 120), excess share 0.12; one cell holds
    // a leaf and its measured backdrop is the leaf's samples. The sheet's cells are flat in
    // every row, in one row only, or in none.
    const SoftKeyParams p;
    const Cell sheet{100, 136, 120};
    constexpr int kAll = -1, kNone = -2;
    const struct {
        const char* what;
        Cell leaf;
        size_t at;
        bool leafFlat;
        int flatRow;
        bool dropped;
    } cases[] = {
        {"a bright leaf, share 0.5", {80, 200, 100}, 4, false, kAll, true},
        {"a leaf of share 0.21", {100, 158, 125}, 4, false, kAll, false},
        {"a leaf of share 0.24", {100, 164, 125}, 4, false, kAll, true},
        {"a flat cell of that share", {80, 200, 100}, 4, true, kAll, false},
        {"nothing flat beside it", {80, 200, 100}, 4, false, kNone, false},
        {"the sheet flat above it only", {80, 200, 100}, 4, false, 0, true},
        {"the sheet flat below it only", {80, 200, 100}, 4, false, 2, true},
        {"a leaf in the top row", {80, 200, 100}, 1, false, kAll, true},
    };
    for (const auto& c : cases) {
        Grid g;
        g.size = 16, g.w = 3, g.h = 3;
        g.cells.assign(9, sheet);
        g.cells[c.at] = c.leaf;
        std::vector<CellMean> means(9, CellMean{100, 136, 120, false});
        for (size_t j = 0; j < 9; ++j) {
            means[j].flat = c.flatRow == kAll || int(j / 3) == c.flatRow;
        }
        means[c.at].flat = c.leafFlat;
        std::vector<char> measured(9, 1);
        dropKeyierSubjects(g, measured, means, p);
        EXPECT_EQ(!measured[c.at], c.dropped) << c.what;
        EXPECT_EQ(std::count(measured.begin(), measured.end(), char(1)), c.dropped ? 8 : 9)
            << c.what;
    }
}

TEST(SoftBackdropField, ADarkSubjectOnAFallingOffScreenIsFoundWholeAndNoFurther) {
    // 1280 x 640 in cells of 20: a blue screen that falls off smoothly to the right, from
    // x = 200 to x = 1000, into a dark blue of a navy's hue (a shaded corner), and a navy patch
    // over cells 20..27 x 12..19 in that fall-off. In its top-left cell 21 of 400 pixels are
    // screen: still flat and of the navy's region, but its measured backdrop is that screen's,
    // which must not make the navy's region backdrop.
    const SoftKeyParams p;
    const QRgb navy = qRgb(20, 30, 58), shaded = scaled(navy, 1.1);
    auto screen = [&](int x) {
        return mix(shaded, kBlue, std::clamp((x - 200) / 800.0, 0.0, 1.0));
    };
    const QImage img = filled(1280, 640, [&](int x, int y) {
        const bool sliver = x == 400 || (x == 401 && y == 240);
        return x >= 400 && x < 560 && y >= 240 && y < 400 && !sliver ? navy : screen(x);
    });
    Grid g = makeGrid(1280, 640, p);
    ASSERT_EQ(g.size, 20);
    const float typical = typicalBackdropRatio(view(img), true, p);
    std::vector<char> measured = measureBackdrop(view(img), true, typical, g, p);
    const std::vector<CellMean> means = cellMeans(view(img), true, g, sampleStep(g, p), p);
    const size_t corner = size_t(12) * g.w + 20;
    ASSERT_TRUE(means[corner].flat);
    ASSERT_GT(g.cells[corner].k, 150) << "its measured backdrop is the screen's";
    ASSERT_TRUE(measured[size_t(15) * g.w + 60]) << "the shaded corner is backdrop by its share";
    const std::vector<char> dark = darkSubjectCells(g, measured, typical, means, p);
    int inPatch = 0, spread = 0;
    for (int cy = 0; cy < g.h; ++cy) {
        for (int cx = 0; cx < g.w; ++cx) {
            const bool patch = cx >= 20 && cx < 28 && cy >= 12 && cy < 20;
            (patch ? inPatch : spread) += dark[size_t(cy) * g.w + cx];
        }
    }
    // All but the corner cell, which reads as screen beside the navy.
    EXPECT_FALSE(dark[corner]);
    EXPECT_EQ(inPatch, 63) << "the navy is a subject";
    EXPECT_EQ(spread, 0) << "cells of the screen taken for the navy";
}

TEST(SoftSubjectField, ASolidIsWhatNoNeutralLayerOverTheBackdropMakes) {
    // One cell each over a green backdrop of (38, 142, 98), the screen drifting towards teal.
    const SoftKeyParams p;
    const Cell backdrop{38, 142, 98};
    // A colour `levels` off the plane of the layers, along its normal K x (1, 1, 1).
    auto off = [&](float levels) {
        const float n[3] = {142 - 98, 98 - 38, 38 - 142};
        const float s = levels / std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        return CellMean{38 + s * n[0], 142 + s * n[1], 98 + s * n[2], true};
    };
    const struct {
        const char* what;
        CellMean mean;
        bool measured;
        bool solid;
    } cases[] = {
        {"a teal cloth", {60, 150, 140, true}, false, true},
        {"an olive cloth", {100, 110, 50, true}, false, true},
        {"a navy cloth", {20, 40, 90, true}, false, true},
        {"a white veil of 30%", {103, 176, 145, true}, false, false},
        {"a shadow of 0.6", {23, 85, 59, true}, false, false},
        {"a hot spot", {88, 192, 148, true}, false, false},
        {"grey glass of 50% over a shadow", {75, 107, 93, true}, false, false},
        {"a colour 12.2 levels off the layers", off(12.2f), false, true},
        {"a colour 11.8 levels off the layers", off(-11.8f), false, false},
        {"teal crossed by stems", {60, 150, 140, false}, false, false},
        {"teal where the backdrop was measured", {60, 150, 140, true}, true, false},
    };
    for (const auto& c : cases) {
        Grid g;
        g.size = 16, g.w = 1, g.h = 1;
        g.cells.assign(1, backdrop);
        const std::vector<char> solid =
            solidSubjectCells(g, std::vector<char>{c.measured}, {c.mean}, p);
        EXPECT_EQ(bool(solid[0]), c.solid) << c.what;
    }
}

TEST(SoftSubjectField, ACellCrossedByAStemTakesTheClothsColourAroundIt) {
    // 4 x 4 cells of 16, all teal but for the first pixels of cell (1, 1) in a stem's colour.
    // One cell is key-like, with the teal as its subject; of the 256 samples of cell (1, 1),
    // 154 of the teal are enough.
    const SoftKeyParams p;
    const QRgb teal = qRgb(60, 150, 140), stem = qRgb(140, 90, 60);
    const struct {
        const char* what;
        int stemPixels;
        int dx, dy;     // where the key-like cell lies from cell (1, 1)
        bool measured;  // its teal was measured
        bool carried;
    } cases[] = {
        {"a stem over a fifth of the cell", 51, 1, 0, true, true},
        {"teal enough, from below", 102, 0, 1, true, true},
        {"teal just short", 103, 0, 1, true, false},
        {"teal at the corner", 51, -1, -1, true, true},
        {"teal two cells away", 51, 2, 0, true, false},
        {"teal two cells below", 51, 0, 2, true, false},
        {"teal beside, but not measured", 51, 1, 0, false, false},
    };
    for (const auto& c : cases) {
        const QImage img = filled(64, 64, [&](int x, int y) {
            const bool inCell = x >= 16 && x < 32 && y >= 16 && y < 32;
            return inCell && (y - 16) * 16 + (x - 16) < c.stemPixels ? stem : teal;
        });
        Grid g;
        g.size = 16, g.w = 4, g.h = 4;
        g.cells.assign(16, Cell{38, 142, 98, 140, 90, 60, 0});
        const size_t from = size_t(1 + c.dy) * 4 + size_t(1 + c.dx), at = 5;
        std::vector<char> keyLike(16, 0), valid(16, 1);
        keyLike[from] = 1, valid[from] = c.measured, valid[at] = 0;
        g.cells[from].sr = 60, g.cells[from].sk = 150, g.cells[from].so = 140;
        carryKeyLike(view(img), false, g, sampleStep(g, p), keyLike, valid, p);
        EXPECT_EQ(bool(valid[at]), c.carried) << c.what;
        EXPECT_EQ(g.cells[at].sk, c.carried ? 150 : 90) << c.what;
    }
}

namespace {

// Hostile frames, 512 x 320 (enough rows for several bands).
struct Frame {
    const char* what;
    bool blue;
    std::function<QRgb(int, int)> at;
    int backdropAlpha;  // all backdrop: no alpha above this; < 0: not all backdrop
    bool keysNothing;   // stays as it was, and says so
};

std::vector<Frame> hostileFrames() {
    const QRgb beige = qRgb(205, 185, 150);
    return {
        {"all backdrop, green", false, [](int, int) { return kGreen; }, 0, false},
        {"all backdrop, blue, falling off", true,
         [](int x, int) { return scaled(kBlue, 1.0 - 0.5 * x / 512.0); }, 0, false},
        {"all subject", false, [](int, int) { return qRgb(200, 60, 60); }, -1, true},
        {"black", false, [](int, int) { return qRgb(0, 0, 0); }, -1, true},
        {"white", true, [](int, int) { return qRgb(255, 255, 255); }, -1, true},
        {"one flat colour keyed for blue", true, [](int, int) { return kGreen; }, -1, true},
        {"neutral grey-blue sheet", true,
         [](int x, int y) { return qRgb(118 + x % 3, 128 + y % 2, 150); }, -1, true},
        // The teal side falls short of the typical share and is filled from the green one.
        {"hue drift, green to teal", false,
         [](int x, int) { return mix(qRgb(40, 170, 120), kGreen, x / 511.0); }, 24, false},
        // A drifting backdrop at the left with a flat subject over most of the frame: the
        // subject's cells beside the teal side see a backdrop of negative excess.
        {"beige over 81% beside a teal drift", false,
         [beige](int x, int y) {
             if (x >= 51 && y >= 32) {
                 return beige;
             }
             return mix(qRgb(60, 150, 160), kGreen, y / 319.0);
         },
         -1, false},
    };
}

QImage keyed(const QImage& photo, bool blue, bool spill, keying::KeyNotes* notes = nullptr) {
    keying::KeySettings s;
    s.magic = 10;
    s.correctSpill = spill;
    s.spill = spill ? 20 : 0;
    s.backdrop = blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
    QImage img = photo;
    const keying::KeyNotes n = keying::keyImage(img, 0, s);
    if (notes) {
        *notes = n;
    }
    return img;
}

}  // namespace

TEST(SoftInvariants, HostileFrames) {
    const SoftKeyParams p;
    for (const Frame& f : hostileFrames()) {
        SCOPED_TRACE(f.what);
        const QImage photo = filled(512, 320, f.at);
        const Fields fields = estimateFields(view(photo), f.blue, p);
        for (const Cell& c : fields.grid.cells) {
            for (float v : {c.r, c.k, c.o, c.sr, c.sk, c.so, c.sy}) {
                ASSERT_TRUE(std::isfinite(v) && std::abs(v) <= kFieldLimit) << v;
            }
        }
        keying::KeyNotes notes;
        const QImage out = keyed(photo, f.blue, true, &notes);
        EXPECT_EQ(notes.noBackdrop, f.keysNothing);
        // The same bytes with 1, 2 and 8 threads.
        const int threads = QThreadPool::globalInstance()->maxThreadCount();
        for (int t : {1, 2, 8}) {
            QThreadPool::globalInstance()->setMaxThreadCount(t);
            EXPECT_EQ(keyed(photo, f.blue, true), out) << t << " threads";
        }
        QThreadPool::globalInstance()->setMaxThreadCount(threads);

        int kept = 0, mostAlpha = 0;
        for (int y = 0; y < out.height(); ++y) {
            const auto* o = reinterpret_cast<const QRgb*>(out.constScanLine(y));
            const auto* in = reinterpret_cast<const QRgb*>(photo.constScanLine(y));
            for (int x = 0; x < out.width(); ++x) {
                if (f.keysNothing) {
                    ASSERT_EQ(o[x], in[x]) << x << "," << y;
                    continue;
                }
                if (f.backdropAlpha >= 0) {
                    mostAlpha = std::max(mostAlpha, qAlpha(o[x]));
                    continue;
                }
                kept += qAlpha(o[x]) >= 128;
            }
        }
        if (f.backdropAlpha >= 0) {
            EXPECT_LE(mostAlpha, f.backdropAlpha);
        }
        if (!f.keysNothing && f.backdropAlpha < 0) {
            // The beige subject stays whole: 461 x 288 pixels of it.
            EXPECT_GE(kept, 461 * 288) << "opaque subject keyed out";
        }
    }
}

TEST(SoftInvariants, SpillCorrectionNeverCrossesNeutral) {
    // Neutrals and skin beside a green and a blue screen, opaque and mixed into the backdrop.
    const QRgb neutrals[] = {qRgb(240, 240, 240), qRgb(128, 128, 128), qRgb(40, 40, 40),
                             qRgb(220, 170, 140)};
    for (const bool blue : {false, true}) {
        const QRgb K = blue ? kBlue : kGreen;
        for (const QRgb n : neutrals) {
            SCOPED_TRACE(std::to_string(n) + (blue ? " blue" : " green"));
            // Left half backdrop; right half the neutral with spill, a soft edge between.
            const QImage photo = filled(256, 160, [&](int x, int) {
                const double a = std::clamp((x - 120) / 16.0, 0.0, 1.0);
                return mix(mix(n, K, 0.92), K, a);
            });
            const QImage out = keyed(photo, blue, true);
            for (int x = 0; x < 256; ++x) {
                const QRgb o = reinterpret_cast<const QRgb*>(out.constScanLine(80))[x];
                if (qAlpha(o) < 64) {
                    continue;
                }
                // The key channel may fall to neutral, never below both others by more than
                // the subject's own colour is (skin on blue is).
                auto past = [&](QRgb c) {
                    const int k = blue ? qBlue(c) : qGreen(c), other = blue ? qGreen(c) : qBlue(c);
                    return std::min(qRed(c), other) - k;
                };
                EXPECT_LE(past(o), std::max(0, past(n)) + 2) << x << std::hex << " " << o;
            }
        }
    }
}

TEST(SoftInvariants, AKeyedEdgeLaidBackOverTheBackdropGivesThePhoto) {
    const struct {
        const char* what;
        QRgb subject, backdrop;
        bool blue;
    } cases[] = {
        {"red on green", qRgb(200, 60, 60), kGreen, false},
        {"skin on blue", qRgb(220, 170, 140), kBlue, true},
        {"grey on a dark green", qRgb(128, 128, 128), qRgb(20, 90, 35), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The subject's right half, its edge a ramp of coverage 8 pixels wide.
        auto cover = [](int x) { return std::clamp((x - 252) / 8.0, 0.0, 1.0); };
        const QImage photo =
            filled(512, 320, [&](int x, int) { return mix(c.subject, c.backdrop, cover(x)); });
        const QImage out = keyed(photo, c.blue, false);
        // Away from the ends that the key clips as noise: true cover 0.25 to 0.75.
        for (int x = 254; x <= 258; ++x) {
            const QRgb o = reinterpret_cast<const QRgb*>(out.constScanLine(160))[x];
            const QRgb in = reinterpret_cast<const QRgb*>(photo.constScanLine(160))[x];
            const int a = qAlpha(o);
            using Channel = int (*)(QRgb);
            auto back = [&](Channel ch) {
                return (a * ch(o) + (255 - a) * ch(c.backdrop) + 127) / 255;
            };
            const Channel other = c.blue ? Channel(qGreen) : Channel(qBlue);
            // The key channel's rest is taken out on purpose; red and the other come back.
            EXPECT_LE(std::abs(back(qRed) - qRed(in)), 4) << x;
            EXPECT_LE(std::abs(back(other) - other(in)), 4) << x;
            EXPECT_NEAR(a, 255 * cover(x), 24) << x;
        }
    }
}
