// Colour conversions of the keyers: integer HSV, its table form, YCbCr and the two YCbCr
// closeness tests.
#include <gtest/gtest.h>

#include "keying/hsv.h"
#include "keying/hsv_fast.h"
#include "keying/ycbcr.h"
#include "keying/ycbcr_limits.h"
#include "reference_keyers.h"

using keying::Hsv;

TEST(IntegerHsv, MatchesTheWorkedColours) {
    // QColor of Qt 6 gives saturation 198 for the first; the keyers need 199.
    EXPECT_EQ(keying::rgbToHsv(40, 180, 60), (Hsv{128, 199, 180}));
    EXPECT_EQ(keying::rgbToHsv(120, 200, 90), (Hsv{103, 140, 200}));
    EXPECT_EQ(keying::hsvToRgb(103, 116, 200, 248), 0xF887C86Du);
    EXPECT_EQ(keying::rgbToHsv(0, 255, 0), (Hsv{120, 255, 255}));
    EXPECT_EQ(keying::rgbToHsv(0, 0, 255), (Hsv{240, 255, 255}));
}

TEST(IntegerHsv, GreysHaveNoHue) {
    for (int c : {0, 1, 77, 128, 254, 255}) {
        EXPECT_EQ(keying::rgbToHsv(c, c, c), (Hsv{-1, 0, c})) << c;
    }
}

TEST(IntegerHsv, HueStaysBelow360AndValueIsTheLargestChannel) {
    // Just below a full turn: red largest, blue a little above green.
    EXPECT_EQ(keying::rgbToHsv(255, 0, 1).h, 359);
    for (int r = 0; r < 256; r += 5) {
        for (int g = 0; g < 256; g += 3) {
            for (int b = 0; b < 256; b += 7) {
                const Hsv c = keying::rgbToHsv(r, g, b);
                ASSERT_EQ(c.v, std::max(r, std::max(g, b)));
                ASSERT_LT(c.h, 360);
                ASSERT_LE(c.s, 255);
            }
        }
    }
}

TEST(IntegerHsv, AgreesWithThePlainTranscriptionForEveryColour) {
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const QRgb c = qRgb(r, g, b);
                const reference::Hsv ref = reference::toHsv(c);
                const Hsv eng = keying::rgbToHsv(r, g, b);
                const keying::detail::PixelHsv fast = keying::detail::fastHsv(c);
                if (eng.h != ref.h || eng.s != ref.s || eng.v != ref.v || fast.h != ref.h ||
                    fast.s != ref.s || fast.v != ref.v) {
                    FAIL() << "rgb " << r << "," << g << "," << b << " ref " << ref.h << "/"
                           << ref.s << "/" << ref.v << " engine " << eng.h << "/" << eng.s << "/"
                           << eng.v << " integer " << fast.h << "/" << fast.s << "/" << fast.v;
                }
            }
        }
    }
}

TEST(IntegerHsv, ToRgbAgreesWithThePlainTranscription) {
    for (int h = 0; h < 360; ++h) {
        for (int s = 0; s < 256; ++s) {
            for (int v = 0; v < 256; v += 3) {
                ASSERT_EQ(keying::hsvToRgb(h, s, v, 248), reference::fromHsv(h, s, v, 248))
                    << h << " " << s << " " << v;
            }
        }
    }
    // No saturation, or no hue: a grey of the value.
    EXPECT_EQ(keying::hsvToRgb(200, 0, 90, 248), qRgba(90, 90, 90, 248));
    EXPECT_EQ(keying::hsvToRgb(-1, 40, 90, 7), qRgba(90, 90, 90, 7));
}

TEST(YCbCr, EdgeColours) {
    EXPECT_EQ(keying::rgb2y(255, 255, 255), 255);
    EXPECT_EQ(keying::rgb2cb(255, 255, 255), 128);
    EXPECT_EQ(keying::rgb2cr(255, 255, 255), 128);
    EXPECT_EQ(keying::rgb2y(0, 0, 0), 0);
    EXPECT_EQ(keying::rgb2cb(0, 0, 0), 128);
    EXPECT_EQ(keying::rgb2cr(0, 0, 0), 128);
    EXPECT_EQ(keying::rgb2cb(0, 0, 255), 256);  // not clamped
    EXPECT_EQ(keying::rgb2cr(255, 0, 0), 256);
    EXPECT_EQ(keying::rgb2cb(255, 255, 0), 1);  // exactly 0.5 rounds up
    // The substituted green key and pure green differ by one in Cr.
    EXPECT_EQ(keying::rgb2y(1, 255, 1), 150);
    EXPECT_EQ(keying::rgb2cb(1, 255, 1), 44);
    EXPECT_EQ(keying::rgb2cr(1, 255, 1), 22);
    EXPECT_EQ(keying::rgb2y(0, 255, 0), 150);
    EXPECT_EQ(keying::rgb2cb(0, 255, 0), 44);
    EXPECT_EQ(keying::rgb2cr(0, 255, 0), 21);
}

TEST(YCbCr, AgreesWithThePlainTranscriptionForEveryColour) {
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const int y = keying::rgb2y(r, g, b), cb = keying::rgb2cb(r, g, b);
                const int cr = keying::rgb2cr(r, g, b);
                if (y != reference::rgb2y(r, g, b) || cb != reference::rgb2cb(r, g, b) ||
                    cr != reference::rgb2cr(r, g, b) || y < 0 || y > 255 || cb < 1 || cb > 256 ||
                    cr < 1 || cr > 256) {
                    FAIL() << r << "," << g << "," << b;
                }
            }
        }
    }
}

TEST(YCbCr, IsGreenRamp) {
    EXPECT_EQ(keying::isGreen(44, 21, 44, 22, 2, 18), 0.0);  // distance 1 < inner 2
    EXPECT_EQ(keying::isGreen(44, 20, 44, 22, 2, 18), 0.0);  // distance 2: start of the ramp
    EXPECT_EQ(keying::isGreen(44, 12, 44, 22, 2, 18), 0.5);  // distance 10
    EXPECT_EQ(keying::isGreen(44, 40, 44, 22, 2, 18), 1.0);  // distance 18: at the outer radius
    EXPECT_EQ(keying::isGreen(60, 22, 44, 22, 2, 2), 1.0);   // no ramp left
    EXPECT_EQ(keying::isGreen(44, 22, 44, 22, 2, -5), 0.0);
}

TEST(YCbCr, IsGreen2BoxIsStrict) {
    // Chroma allowance 0: |dCb|, |dCr| < 8; luma allowance 18: |dY| < 56.
    EXPECT_EQ(keying::isGreen2(100, 50, 50, 100, 57, 43, 0, 18), 1.0);
    EXPECT_EQ(keying::isGreen2(100, 50, 50, 100, 58, 50, 0, 18), 0.0);
    EXPECT_EQ(keying::isGreen2(100, 50, 50, 100, 50, 42, 0, 18), 0.0);
    EXPECT_EQ(keying::isGreen2(155, 50, 50, 100, 50, 50, 0, 18), 1.0);
    EXPECT_EQ(keying::isGreen2(156, 50, 50, 100, 50, 50, 0, 18), 0.0);
    EXPECT_EQ(keying::isGreen2(100, 50, 50, 100, 50, 50, -8, 18), 0.0);
}

TEST(MaskOut3Decision, SquaredDistanceLimits) {
    // coarse 0: keyed up to 315, kept from 316; coarse 10: 762; coarse <= -16: below 4.
    const std::pair<int, int> limits[] = {{0, 315}, {10, 762}, {-16, 3}, {-100, 3}};
    for (auto [coarse, limit] : limits) {
        for (int dCb = 0; dCb < 256; ++dCb) {
            for (int dCr = 0; dCr < 256; ++dCr) {
                ASSERT_EQ(keying::detail::maskOut3Keys(dCb, dCr, coarse),
                          dCb * dCb + dCr * dCr <= limit)
                    << coarse << " " << dCb << " " << dCr;
            }
        }
    }
}

TEST(MaskOut3Decision, ReducesToOneSquaredLimitForEveryCoarse) {
    for (int coarse = -100; coarse <= 100; ++coarse) {
        const int limit = keying::detail::maskOut3SquaredLimit(coarse);
        for (int dCb = 0; dCb < 256; ++dCb) {
            for (int dCr = 0; dCr <= dCb; ++dCr) {
                ASSERT_EQ(keying::detail::maskOut3Keys(dCb, dCr, coarse),
                          dCb * dCb + dCr * dCr <= limit)
                    << coarse << " " << dCb << " " << dCr;
            }
        }
    }
}
