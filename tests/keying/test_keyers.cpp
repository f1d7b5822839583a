// Worked examples of each keyer, one table row each, and of the colour conversions they use.
#include <gtest/gtest.h>

#include "keying/hsv.h"
#include "keying/keyer.h"
#include "keying/ycbcr.h"

namespace {

// A colour given as RGB, or by its HSV (found with the engine's conversion).
struct Px {
    QRgb rgb = 0;
    int h = -2, s = 0, v = 0;
    Px(QRgb c) : rgb(c) {}  // NOLINT: table entries read best unwrapped
    Px(int hue, int sat, int val) : h(hue), s(sat), v(val) {}
    QRgb resolve() const {
        for (int a = 0; h != -2 && a <= v; ++a)
            for (int b = 0; b <= v; ++b)
                for (QRgb c : {qRgb(v, a, b), qRgb(a, v, b), qRgb(a, b, v)})
                    if (keying::rgbToHsv(c) == keying::Hsv{h, s, v})
                        return c;
        EXPECT_EQ(h, -2) << "no colour with HSV " << h << "/" << s << "/" << v;
        return rgb;
    }
};

constexpr QRgb kOut = 0x00000000;
constexpr QRgb kKept = 0x00000001;  // the probe comes back unchanged
const QRgb kWhite = qRgb(255, 255, 255);

struct Tuning {
    int fine = 0, coarse = 0;
    bool blue = false, correctSpill = false;
    int spill = 0;
};

struct Example {
    int magic;
    Px pixel;
    Px key;
    Tuning t;
    QRgb expected;
    // Row 0 of the three-row photo: MaskOut10 estimates the backdrop from it. White (no hue)
    // is not sampled, so the estimate is 0, 0, 0.
    Px estimate = kWhite;
};

const Px green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255), grey = qRgb(128, 128, 128);
const Px hsvKey(120, 200, 180), far = qRgb(255, 0, 255), dark = qRgb(30, 200, 40),
                                g200 = qRgb(0, 200, 0);

// The bounds of each keyer's rules, one row each: a band's edge in, the next value out.
const Example kExamples[] = {
    // MaskOut10: vivid and core green, the gate, closeness to the estimate, spill.
    {9, green, 0, {-100}, kOut},
    {9, qRgb(40, 180, 60), 0, {-20}, kOut},
    {9, Px(128, 199, 95), 0, {-20}, kKept},
    {9, qRgb(120, 200, 90), 0, {}, kKept, Px(120, 200, 180)},
    {9, qRgb(120, 200, 90), 0, {0, 0, false, true}, 0xF887C86Du, Px(120, 200, 180)},
    {9, Px(81, 150, 150), 0, {}, kOut, Px(100, 150, 150)},
    {9, Px(81, 150, 150), 0, {-1}, kKept, Px(100, 150, 150)},
    {9, Px(100, 99, 100), 0, {100}, kOut},
    {9, Px(100, 99, 100), 0, {}, kKept},
    {9, grey, 0, {100, 0, false, true, 7}, kKept},
    {9, Px(120, 201, 28), 0, {100, 0, false, true, 7}, kKept},
    {9, Px(120, 30, 200), 0, {100, 0, false, true, 7}, kKept},
    {9, Px(63, 255, 255), 0, {}, kKept},
    {9, Px(64, 255, 255), 0, {}, kOut},
    {9, Px(166, 255, 255), 0, {}, kOut},
    {9, Px(167, 255, 255), 0, {}, kKept},
    {9, blue, 0, {0, 0, true}, kOut},
    {9, green, 0, {0, 0, true}, kKept},
    // MaskOut9: the tuned band's floors, then the fixed bands.
    {8, Px(90, 220, 80), 0, {}, kOut},
    {8, Px(90, 217, 80), 0, {}, kKept},
    {8, Px(90, 220, 79), 0, {}, kKept},
    {8, Px(90, 255, 150), 0, {35}, kOut},
    {8, Px(90, 255, 150), 0, {36, -100}, kKept},
    {8, Px(93, 230, 10), 0, {0, -80}, kOut},
    {8, Px(69, 230, 150), 0, {0, -100}, kKept},
    {8, Px(70, 230, 150), 0, {}, kOut},
    {8, Px(120, 97, 95), 0, {}, kKept},
    {8, Px(120, 96, 96), 0, {}, kOut},
    {8, Px(65, 255, 255), 0, {}, kKept},
    {8, Px(175, 255, 255), 0, {}, kKept},
    // MaskOut8: closeness to the key's HSV.
    {7, Px(130, 203, 102), hsvKey, {}, kOut},
    {7, Px(139, 200, 180), hsvKey, {}, kKept},
    {7, Px(120, 206, 180), hsvKey, {}, kKept},
    {7, hsvKey, hsvKey, {-19}, kKept},
    {7, hsvKey, hsvKey, {-18}, kOut},
    {7, hsvKey, hsvKey, {0, -88}, kKept},
    {7, hsvKey, hsvKey, {0, -87}, kOut},
    {7, Px(120, 199, 50), Px(120, 199, 50), {100, 100}, kKept},
    {7, Px(358, 200, 200), Px(2, 200, 200), {100}, kKept},
    // MaskOut and MaskOut4: ratio thresholds and the dark-neutral exception.
    {1, qRgb(40, 50, 10), 0, {}, kKept},
    {1, qRgb(41, 50, 10), 0, {}, kOut},
    {1, qRgb(0, 0, 0), 0, {-29}, kKept},
    {1, qRgb(0, 0, 0), 0, {-30}, kOut},
    {3, qRgb(0, 0, 0), 0, {-24}, kKept},
    {3, qRgb(0, 0, 0), 0, {-25}, kOut},
    {1, qRgb(100, 130, 100), 0, {}, kOut},
    {1, qRgb(100, 129, 100), 0, {}, kKept},
    {3, qRgb(100, 125, 100), 0, {}, kOut},
    {3, qRgb(100, 124, 100), 0, {}, kKept},
    {1, blue, 0, {0, 0, true}, kOut},
    {1, qRgb(10, 40, 50), 0, {0, 0, true}, kKept},
    // MaskOut5 and MaskOut6: strict distance to the key, zeros taken as ones.
    {5, qRgb(0, 209, 10), g200, {}, kOut},
    {5, qRgb(0, 210, 0), g200, {}, kKept},
    {5, qRgb(11, 200, 0), g200, {}, kKept},
    {4, qRgb(0, 229, 30), g200, {}, kOut},
    {4, qRgb(0, 230, 0), g200, {}, kKept},
    {5, g200, g200, {0, -100}, kKept},
    {5, qRgb(0, 210, 0), g200, {1}, kOut},
    {5, qRgb(30, 30, 30), qRgb(30, 30, 30), {}, kOut},
    {5, qRgb(30, 35, 20), qRgb(30, 35, 20), {}, kKept},
    // The RGB keyers' spill pass damps green and makes kept pixels opaque.
    {5, qRgba(100, 200, 50, 255), far, {0, 0, false, true}, qRgba(100, 166, 50, 255)},
    {4, qRgba(100, 200, 50, 40), far, {0, 0, false, true}, qRgba(100, 166, 50, 255)},
    {5, qRgb(100, 100, 50), far, {0, 0, false, true}, kKept},
    {3, qRgb(40, 50, 10), 0, {0, 0, false, true}, qRgba(40, 41, 10, 255)},
    {5, qRgba(100, 200, 50, 77), far, {}, kKept},
    // MaskOut3 and MaskOut7: distances in Cb-Cr and boxes in YCbCr.
    {2, green, green, {}, kOut},
    {2, far, green, {}, kKept},
    {6, qRgb(73, 73, 73), grey, {}, kOut},
    {6, qRgb(72, 72, 72), grey, {}, kKept},
    {6, qRgb(72, 72, 72), grey, {0, 1}, kOut},
    {6, dark, dark, {-8}, kKept},
    {6, dark, dark, {-7}, kOut},
    {6, dark, dark, {0, -56}, kKept},
    {6, dark, dark, {0, -55}, kOut},
    {6, qRgba(200, 40, 30, 99), dark, {0, 0, true, true, 20}, kKept}};

class Keyers : public ::testing::TestWithParam<Example> {};

TEST_P(Keyers, KeyTheWorkedExample) {
    const Example& e = GetParam();
    keying::KeySettings s;
    s.magic = e.magic, s.fine = e.t.fine, s.coarse = e.t.coarse, s.spill = e.t.spill;
    s.correctSpill = e.t.correctSpill;
    s.backdrop = e.t.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
    const QRgb pixel = e.pixel.resolve();
    QImage img(2, 3, QImage::Format_ARGB32);
    img.fill(kWhite);
    img.setPixel(0, 0, e.estimate.resolve());
    img.setPixel(0, 2, pixel);
    keying::keyImage(img, e.key.resolve(), s);
    EXPECT_EQ(img.pixel(0, 2), e.expected == kKept ? pixel : e.expected) << std::hex << pixel;
}

INSTANTIATE_TEST_SUITE_P(Table, Keyers, ::testing::ValuesIn(kExamples));

TEST(Colour, WorkedConversions) {
    // QColor of Qt 6 gives saturation 198 for the first; the keyers need 199.
    EXPECT_TRUE(keying::rgbToHsv(40, 180, 60) == (keying::Hsv{128, 199, 180}));
    EXPECT_TRUE(keying::rgbToHsv(255, 0, 1) == (keying::Hsv{359, 255, 255}));
    EXPECT_TRUE(keying::rgbToHsv(77, 77, 77) == (keying::Hsv{-1, 0, 77}));
    EXPECT_EQ(keying::hsvToRgb(-1, 40, 90, 7), qRgba(90, 90, 90, 7));
    // Cb and Cr are not clamped, and half-way rounds up.
    EXPECT_EQ(keying::rgb2cb(0, 0, 255), 256);
    EXPECT_EQ(keying::rgb2cr(255, 0, 0), 256);
    EXPECT_EQ(keying::rgb2cb(255, 255, 0), 1);
}

}  // namespace
