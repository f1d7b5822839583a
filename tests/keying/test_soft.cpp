// Magic Number 10: its parameter table, each stage on tiny grids, and invariants over a table
// of hostile frames.
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
#include "keying/soft/fill_in.h"
#include "keying/soft/kernel.h"
#include "keying/soft/see_through.h"
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

int maxChannelOff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

Grid grid(int w, int h) {
    Grid g;
    g.size = 8, g.w = w, g.h = h;
    g.cells.assign(size_t(w) * h, Cell());
    return g;
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

TEST(SoftGrid, HolesTakeTheMeanOfTheirNeighboursRingByRing) {
    const struct {
        const char* what;
        std::vector<char> valid;  // 3 x 3
        float centre, corner;     // expected backdrop r of cells 4 and 8
    } cases[] = {
        {"centre from the eight around it", {1, 1, 1, 1, 0, 1, 1, 1, 1}, 40.0f, 80.0f},
        {"second ring from the first", {1, 0, 0, 0, 0, 0, 0, 0, 0}, 0.0f, 0.0f},
        {"nothing valid takes the fallback", {0, 0, 0, 0, 0, 0, 0, 0, 0}, 7.0f, 7.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Grid g = grid(3, 3);
        for (int i = 0; i < 9; ++i) {
            g.cells[size_t(i)].r = float(i * 10);  // cell 0 holds 0; the mean of the rest is 40
        }
        std::vector<char> valid = c.valid;
        fillHoles(valid, g, kBackdropColour, 7.0f);
        EXPECT_FLOAT_EQ(g.cells[4].r, c.centre);
        EXPECT_FLOAT_EQ(g.cells[8].r, c.corner);
        EXPECT_EQ(std::count(valid.begin(), valid.end(), char(1)),
                  std::count(c.valid.begin(), c.valid.end(), char(1)) ? 9 : 0);
    }
}

TEST(SoftBackdropField, CellsMeasureTheirBackdropAndSkipTheSubject) {
    const SoftKeyParams p;
    const struct {
        const char* what;
        QRgb backdrop;
        bool blue, usable;
    } cases[] = {
        {"green screen", kGreen, false, true},
        {"blue screen", kBlue, true, true},
        {"dark green screen", qRgb(15, 60, 25), false, true},
        {"grey-blue sheet", qRgb(118, 128, 150), true, false},
        {"pale blue sheet, key-coloured but faintly", qRgb(112, 126, 150), true, false},
        {"green photo keyed for blue", kGreen, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // 8 x 8 cells of 8 pixels; cells (2..4, 2..4) are a red subject.
        const QImage img = filled(64, 64, [&](int x, int y) {
            return x >= 16 && x < 40 && y >= 16 && y < 40 ? qRgb(200, 60, 60) : c.backdrop;
        });
        Grid g = makeGrid(64, 64, p);
        ASSERT_EQ(g.size, 8);
        const float typical = typicalBackdropRatio(view(img), c.blue, p);
        const std::vector<char> measured = measureBackdrop(view(img), c.blue, typical, g, p);
        EXPECT_EQ(usableBackdrop(typical, measured, p), c.usable);
        if (!c.usable) {
            continue;
        }
        const Cell& open = g.cells[0];
        EXPECT_FLOAT_EQ(open.r, float(qRed(c.backdrop)));
        EXPECT_FLOAT_EQ(open.k, float(c.blue ? qBlue(c.backdrop) : qGreen(c.backdrop)));
        EXPECT_TRUE(measured[0]);
        EXPECT_FALSE(measured[3 * 8 + 3]);
    }
}

TEST(SoftBackdropField, ADarkSubjectOfTheKeysColourIsNotShadow) {
    const SoftKeyParams p;
    const struct {
        const char* what;
        QRgb patch;  // over cells (2..5, 2..5) of 8 x 8, on a blue screen
        bool subject;
    } cases[] = {
        {"navy shirt", qRgb(25, 35, 80), true},
        {"dark blue cloth", qRgb(40, 60, 120), true},
        {"a deep shadow on the screen", scaled(kBlue, 0.45), false},
        {"a light shadow", scaled(kBlue, 0.8), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QImage img = filled(64, 64, [&](int x, int y) {
            return x >= 16 && x < 48 && y >= 16 && y < 48 ? c.patch : kBlue;
        });
        Grid g = makeGrid(64, 64, p);
        const float typical = typicalBackdropRatio(view(img), true, p);
        std::vector<char> measured = measureBackdrop(view(img), true, typical, g, p);
        ASSERT_TRUE(measured[3 * 8 + 3]) << "the patch passes as key-coloured";
        const std::vector<char> dark = darkSubjectCells(g, measured, typical, p);
        for (const size_t i : {size_t(2 * 8 + 2), size_t(3 * 8 + 4), size_t(5 * 8 + 5)}) {
            EXPECT_EQ(bool(dark[i]), c.subject) << i;
            EXPECT_EQ(bool(measured[i]), !c.subject) << i;
        }
        EXPECT_FALSE(dark[0]);
        EXPECT_TRUE(measured[0]);
    }
}

TEST(SoftFillIn, AHoleTakesTheCurveOfTheBackdropAroundIt) {
    const SoftKeyParams p;
    // A backdrop whose key channel is a bowl over 16 x 16 cells, unknown in a 6 x 6 hole.
    const struct {
        const char* what;
        double bowl;  // curvature of the key channel
        float tolerance;
    } cases[] = {{"flat", 0.0, 0.01f}, {"hot spot", -0.5, 3.0f}, {"fall-off", 0.4, 3.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Grid g = grid(16, 16);
        std::vector<char> measured(256, 1);
        auto truth = [&](int x, int y) {
            return float(150.0 + c.bowl * ((x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5)));
        };
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                Cell& cell = g.cells[size_t(y) * 16 + x];
                const bool hole = x >= 5 && x < 11 && y >= 5 && y < 11;
                cell.r = 50, cell.o = 80, cell.k = hole ? 0.0f : truth(x, y);
                measured[size_t(y) * 16 + x] = !hole;
            }
        }
        fillBackdrop(g, measured, p);
        for (const auto& [x, y] : {std::pair{7, 7}, {5, 5}, {10, 8}}) {
            EXPECT_NEAR(g.cells[size_t(y) * 16 + x].k, truth(x, y), c.tolerance) << x << "," << y;
            EXPECT_NEAR(g.cells[size_t(y) * 16 + x].r, 50.0f, 0.5f);
        }
    }
}

TEST(SoftSeeThrough, AGlassPatchShowsTheHotSpotBehindIt) {
    const SoftKeyParams p;
    // 16 x 16 cells of 8 px; a 40% grey layer over cells 4..11 both ways, and behind it a hot
    // spot that a fill from the rim cannot know.
    auto back = [](int x, int y) {
        const double dx = (x - 64) / 30.0, dy = (y - 64) / 30.0;
        return scaled(kGreen, 1.0 + 0.25 * std::exp(-(dx * dx + dy * dy)));
    };
    auto glass = [](int x, int y) { return x >= 32 && x < 96 && y >= 32 && y < 96; };
    const QImage img = filled(128, 128, [&](int x, int y) {
        return glass(x, y) ? mix(qRgb(200, 200, 200), back(x, y), 0.4) : back(x, y);
    });
    Grid g = makeGrid(128, 128, p);
    ASSERT_EQ(g.w, 16);
    const float typical = typicalBackdropRatio(view(img), false, p);
    const std::vector<char> measured = measureBackdrop(view(img), false, typical, g, p);
    ASSERT_FALSE(measured[8 * 16 + 8]);
    fillBackdrop(g, measured, p);
    const float filledK = g.cells[8 * 16 + 8].k;
    seeThrough(g, measured, view(img), false, sampleStep(g, p), p);
    const int trueK = qGreen(back(68, 68));
    EXPECT_NEAR(g.cells[8 * 16 + 8].k, float(trueK), 6.0f);
    EXPECT_GT(std::abs(filledK - float(trueK)), 10.0f) << "the fill alone already knew it";
}

TEST(SoftSubjectField, TheNearestSubjectIsCarriedOutAndMixesUnmixed) {
    const SoftKeyParams p;
    const struct {
        const char* what;
        QRgb subject;        // over cells (1..2, 1..2) of 8 x 8
        double halfMixAt33;  // the cover of a mix filling cell (3, 3); 0: backdrop there
    } cases[] = {
        {"red carried to every cell", qRgb(200, 60, 60), 0.0},
        {"navy carried to every cell", qRgb(30, 40, 70), 0.0},
        {"a cell of mixes takes the solid part beside it", qRgb(200, 60, 60), 0.6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QImage img = filled(64, 64, [&](int x, int y) {
            const int cx = x / 8, cy = y / 8;
            if (cx >= 1 && cx <= 2 && cy >= 1 && cy <= 2) {
                return c.subject;
            }
            return cx == 3 && cy == 3 && c.halfMixAt33 > 0 ? mix(c.subject, kGreen, c.halfMixAt33)
                                                           : kGreen;
        });
        Grid g = makeGrid(64, 64, p);
        const float typical = typicalBackdropRatio(view(img), false, p);
        const std::vector<char> measured = measureBackdrop(view(img), false, typical, g, p);
        fillBackdrop(g, measured, p);
        subjectField(view(img), false, g, sampleStep(g, p), {}, p);
        for (const size_t i : {size_t(0), size_t(3 * 8 + 3), size_t(63)}) {
            SCOPED_TRACE(i);
            EXPECT_NEAR(g.cells[i].sr, float(qRed(c.subject)), 1.0f);
            EXPECT_NEAR(g.cells[i].sk, float(qGreen(c.subject)), 1.0f);
            EXPECT_NEAR(g.cells[i].so, float(qBlue(c.subject)), 1.0f);
        }
    }
}

TEST(SoftSubjectField, ACellBesideABackdropOfNegativeExcessTellsNothing) {
    const SoftKeyParams p;
    // A filled or see-through backdrop can come out with less key than the others: then no
    // sample is subject-like enough, and the cell must stay unmeasured, not divide by zero.
    const QImage img = filled(64, 64, [](int, int) { return qRgb(205, 185, 150); });
    Grid g = makeGrid(64, 64, p);
    for (Cell& c : g.cells) {
        c.r = 150, c.k = 100, c.o = 150;
    }
    const std::vector<char> measured = measureSubject(view(img), false, g, 1, {}, p);
    EXPECT_EQ(std::count(measured.begin(), measured.end(), char(1)), 0);
    for (const Cell& c : g.cells) {
        ASSERT_TRUE(std::isfinite(c.sr) && std::isfinite(c.sk) && std::isfinite(c.so));
    }
}

// The kernel on chosen pixels against even fields: backdrop K (the field's, and the photo's
// unless said) and subject F everywhere.
TEST(SoftKernel, ChosenPixelsAgainstEvenFields) {
    const SoftKeyParams p;
    const QRgb red = qRgb(200, 60, 60), teal = qRgb(60, 150, 140), grey = qRgb(128, 128, 128);
    const QRgb K = kGreen, brighterK = qRgb(50, 205, 80);
    const struct {
        const char* what;
        QRgb subject, fieldK, pixel;
        int alphaMin, alphaMax;
        QRgb colour;    // expected colour where alpha > 0
        int tolerance;  // of that colour; < 0: not checked
    } cases[] = {
        {"backdrop keys out", red, K, K, 0, 0, 0, -1},
        {"backdrop with noise keys out", red, K, qRgb(53, 176, 83), 0, 0, 0, -1},
        {"subject stays", red, K, red, 255, 255, red, 0},
        {"half mix is half, subject-coloured", red, K, mix(red, K, 0.5), 120, 136, red, 8},
        {"quarter mix", red, K, mix(red, K, 0.25), 50, 78, red, 16},
        {"a subject colour further from the key stays", red, K, qRgb(250, 70, 70), 255, 255,
         qRgb(250, 70, 70), 0},
        {"a mix keeps the key colour the subject has", teal, K, mix(teal, K, 0.5), 110, 146, teal,
         6},
        // The field's backdrop brighter than the photo's: taking it out overshoots, but stops at
        // grey rather than turning the grey magenta.
        {"an overshoot stops at neutral", grey, brighterK, mix(grey, K, 0.5), 1, 254,
         qRgb(128, 128, 128), 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A row of the pixel alone: no detail for the luma swap to add.
        QImage img = filled(32, 8, [&](int, int) { return c.pixel; });
        Grid g = grid(4, 1);
        for (Cell& cell : g.cells) {
            cell = {float(qRed(c.fieldK)),
                    float(qGreen(c.fieldK)),
                    float(qBlue(c.fieldK)),
                    float(qRed(c.subject)),
                    float(qGreen(c.subject)),
                    float(qBlue(c.subject)),
                    0.0f};
            cell.sy = lumaOf(lumaWeights(false), cell.sr, cell.sk, cell.so);
        }
        keyRows(img, g, makeShape(p, 0, false, 0, false), false);
        const QRgb out = reinterpret_cast<const QRgb*>(img.constScanLine(4))[13];
        EXPECT_GE(qAlpha(out), c.alphaMin) << std::hex << out;
        EXPECT_LE(qAlpha(out), c.alphaMax) << std::hex << out;
        if (c.tolerance >= 0) {
            EXPECT_LE(maxChannelOff(out, c.colour), c.tolerance) << std::hex << out;
        }
        if (c.subject == grey) {
            EXPECT_GE(qGreen(out), std::min(qRed(out), qBlue(out))) << std::hex << out;
        }
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
