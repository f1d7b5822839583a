// Worked examples of each keyer, grouped by keyer.
#include <gtest/gtest.h>

#include <QtMessageHandler>

#include "keying/hsv.h"
#include "keying/keyer.h"
#include "keying/ycbcr.h"
#include "keying_test_util.h"

using keying::KeySettings;
using keying_test::colourWhere;
using keying_test::colourWithHsv;
using keying_test::keyOne;
using keying_test::keyRow;

namespace {

constexpr QRgb kOut = 0x00000000;

KeySettings settings(int fine = 0, int coarse = 0, int backdrop = 0, bool spillOn = false,
                     int spill = 0) {
    KeySettings s;
    s.fine = fine;
    s.coarse = coarse;
    s.backdrop = backdrop == 1 ? keying::Backdrop::Blue : keying::Backdrop::Green;
    s.correctSpill = spillOn;
    s.spill = spill;
    return s;
}

QRgb hsvColour(int h, int s, int v) {
    const auto c = colourWithHsv(h, s, v);
    EXPECT_TRUE(c.has_value()) << "no colour with HSV " << h << "/" << s << "/" << v;
    return c.value_or(0);
}

// A photo three rows high whose only sampled row (row 0) holds `estimate`, so MaskOut10's
// backdrop estimate is exactly its HSV; the probes sit in row 2.
QImage estimatePhoto(QRgb estimate, const std::vector<QRgb>& probes) {
    const int w = std::max<int>(2, int(probes.size()));
    QImage img(w, 3, QImage::Format_ARGB32);
    img.fill(Qt::white);
    for (int x = 0; x < w; ++x) {
        img.setPixel(x, 0, estimate);
    }
    for (int x = 0; x < int(probes.size()); ++x) {
        img.setPixel(x, 2, probes[x]);
    }
    return img;
}

}  // namespace

// ---------------------------------------------------------------- MaskOut10 (Magic 9)

TEST(MaskOut10, VividGreenIsKeyedWhateverTheEstimateAndFine) {
    for (int fine : {-100, -20, 0, 100}) {
        EXPECT_EQ(keyOne(keying::maskOut10, qRgb(0, 255, 0), 0, settings(fine)), kOut) << fine;
    }
}

TEST(MaskOut10, CoreRuleKeysAClearGreenBelowTheVividValue) {
    // hue 128, saturation 199, value 180; fine -20 switches the closeness rule off.
    EXPECT_EQ(keyOne(keying::maskOut10, qRgb(40, 180, 60), 0, settings(-20)), kOut);
    // Same hue and saturation at value 95: neither vivid nor core.
    const QRgb dark = hsvColour(128, 199, 95);
    EXPECT_EQ(keyOne(keying::maskOut10, dark, 0, settings(-20)), dark);
}

TEST(MaskOut10, ClosenessFailsOnSaturationAndSpillCorrects) {
    const QRgb estimate = hsvColour(120, 200, 180);
    const QRgb probe = qRgb(120, 200, 90);  // hue 103, saturation 140, value 200
    QImage off = estimatePhoto(estimate, {probe});
    keying::maskOut10(off, 0, settings());
    EXPECT_EQ(off.pixel(0, 2), probe);
    EXPECT_EQ(off.pixel(0, 0), kOut);  // the estimate colour itself is core green

    QImage on = estimatePhoto(estimate, {probe});
    keying::maskOut10(on, 0, settings(0, 0, 0, true, 0));
    EXPECT_EQ(on.pixel(0, 2), 0xF887C86Du);  // hue 103, saturation 116, value 200, alpha 248
}

TEST(MaskOut10, ClosenessToleranceFollowsFine) {
    // Estimate hue 100 (gate band, not core), saturation and value 150: not vivid, not core.
    const QRgb estimate = hsvColour(100, 150, 150);
    const QRgb edge = hsvColour(81, 150, 150);  // hue 19 away
    QImage img = estimatePhoto(estimate, {estimate, edge});
    keying::maskOut10(img, 0, settings(0));
    EXPECT_EQ(img.pixel(0, 2), kOut);
    EXPECT_EQ(img.pixel(1, 2), kOut);
    img = estimatePhoto(estimate, {estimate, edge});
    keying::maskOut10(img, 0, settings(-1));  // hue tolerance 19: 19 is not below it
    EXPECT_EQ(img.pixel(0, 2), kOut);
    EXPECT_EQ(img.pixel(1, 2), edge);
    img = estimatePhoto(estimate, {estimate});
    keying::maskOut10(img, 0, settings(-20));  // no difference is below 0
    EXPECT_EQ(img.pixel(0, 2), estimate);
}

TEST(MaskOut10, GreysDarkPalePixelsAndOtherHuesAreNeverChanged) {
    const std::vector<QRgb> px = {qRgb(0, 0, 0),           qRgb(255, 255, 255),
                                  qRgb(128, 128, 128),     hsvColour(120, 201, 28),
                                  hsvColour(120, 30, 200), hsvColour(30, 150, 199),
                                  hsvColour(63, 255, 255), hsvColour(167, 255, 255)};
    for (int fine : {0, 100}) {
        EXPECT_EQ(keyRow(keying::maskOut10, px, 0, settings(fine, 0, 0, true, 7)), px) << fine;
    }
    // The gate band's bounds themselves are inside.
    EXPECT_EQ(keyOne(keying::maskOut10, hsvColour(64, 255, 255), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut10, hsvColour(166, 255, 255), 0, settings()), kOut);
}

TEST(MaskOut10, BlueBackdropSwapsTheBands) {
    const KeySettings blue = settings(0, 0, 1);
    EXPECT_EQ(keyOne(keying::maskOut10, qRgb(0, 0, 255), 0, blue), kOut);
    EXPECT_EQ(keyOne(keying::maskOut10, qRgb(0, 255, 0), 0, blue), qRgb(0, 255, 0));
    EXPECT_EQ(keyOne(keying::maskOut10, qRgb(0, 0, 255), 0, settings()), qRgb(0, 0, 255));
}

TEST(MaskOut10, SpillDivisorSteps) {
    // Gated pixels that no rule keys out (hue 90 to 104, not core, far from the estimate),
    // with saturation 120 and 36.
    const QRgb estimate = hsvColour(150, 250, 250);
    auto gatedWithSaturation = [](int sat) {
        const auto c = colourWhere([sat](int r, int g, int b) {
            const keying::Hsv x = keying::rgbToHsv(r, g, b);
            return x.s == sat && x.h >= 90 && x.h <= 104 && x.v >= 100 && x.v <= 150;
        });
        EXPECT_TRUE(c.has_value());
        return c.value_or(0);
    };
    const QRgb probe = gatedWithSaturation(120), pale = gatedWithSaturation(36);
    const keying::Hsv p = keying::rgbToHsv(probe), q = keying::rgbToHsv(pale);
    auto corrected = [&](int spill, QRgb px) {
        QImage img = estimatePhoto(estimate, {px});
        keying::maskOut10(img, 0, settings(0, 0, 0, true, spill));
        return QRgb(img.pixel(0, 2));
    };
    // 1.2 as a float is a little above 1.2: 120 -> 99 and 36 -> 29.
    EXPECT_EQ(corrected(0, probe), keying::hsvToRgb(p.h, 99, p.v, 248));
    EXPECT_EQ(corrected(0, pale), keying::hsvToRgb(q.h, 29, q.v, 248));
    EXPECT_EQ(corrected(1, probe), corrected(0, probe));
    EXPECT_EQ(corrected(2, probe), keying::hsvToRgb(p.h, 92, p.v, 248));   // 120 / 1.3
    EXPECT_EQ(corrected(40, probe), keying::hsvToRgb(p.h, 23, p.v, 248));  // 120 / 5.1
    // Spill correction off: untouched.
    QImage img = estimatePhoto(estimate, {probe});
    keying::maskOut10(img, 0, settings(0, 0, 0, false, 40));
    EXPECT_EQ(img.pixel(0, 2), probe);
}

TEST(MaskOut10, EstimateComesOnlyFromEvenRowsAboveOneThird) {
    // 300 rows: rows 0, 2, ..., 98 are sampled. They hold hue 100; every row from 99 down
    // holds hue 159. A probe 19 hues below 100 is keyed only if the mean hue is exactly 100.
    const QRgb upper = hsvColour(100, 150, 150);
    const QRgb lower = hsvColour(159, 150, 150);
    const QRgb probe = hsvColour(81, 150, 150);
    QImage img(4, 300, QImage::Format_ARGB32);
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 4; ++x) {
            img.setPixel(x, y, y < 99 ? upper : lower);
        }
    }
    // Odd columns and odd rows are not sampled either.
    for (int y = 1; y < 99; y += 2) {
        img.setPixel(0, y, lower);
    }
    for (int y = 0; y < 99; ++y) {
        img.setPixel(1, y, lower);
        img.setPixel(3, y, lower);
    }
    img.setPixel(2, 299, probe);
    keying::maskOut10(img, 0, settings());
    EXPECT_EQ(img.pixel(2, 299), kOut);
}

TEST(MaskOut10, NoSamplesMeansAnEstimateOfZero) {
    // Two rows: nothing is sampled, so the closeness rule compares against 0, 0, 0.
    const QRgb px = hsvColour(100, 99, 100);
    QImage img(1, 2, QImage::Format_ARGB32);
    img.fill(px);
    keying::maskOut10(img, 0, settings(100));  // tolerances 120, 150, 150
    EXPECT_EQ(img.pixel(0, 0), kOut);
    img.fill(px);
    keying::maskOut10(img, 0, settings(0));
    EXPECT_EQ(img.pixel(0, 1), px);
}

TEST(MaskOut10, IgnoresKeyColourAndCoarse) {
    QImage base(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < base.height(); ++y) {
        for (int x = 0; x < base.width(); ++x) {
            base.setPixel(x, y, qRgb((x * 37 + y * 11) & 255, 120 + ((x * y) % 130), y * 5));
        }
    }
    QImage a = base, b = base;
    keying::maskOut10(a, qRgb(0, 255, 0), settings(5, 0, 0, true, 3));
    keying::maskOut10(b, qRgb(255, 0, 0), settings(5, -70, 0, true, 3));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, base.convertToFormat(QImage::Format_ARGB32));
}

// ---------------------------------------------------------------- MaskOut9 (Magic 8)

TEST(MaskOut9, TunedRuleFloors) {
    const QRgb atFloor = hsvColour(90, 220, 80);
    EXPECT_EQ(keyOne(keying::maskOut9, atFloor, 0, settings()), kOut);
    const QRgb lowSat = hsvColour(90, 217, 80), lowVal = hsvColour(90, 220, 79);
    EXPECT_EQ(keyOne(keying::maskOut9, lowSat, 0, settings()), lowSat);
    EXPECT_EQ(keyOne(keying::maskOut9, lowVal, 0, settings()), lowVal);
    // fine above 35: the saturation floor passes 255.
    const QRgb full = hsvColour(90, 255, 150);
    EXPECT_EQ(keyOne(keying::maskOut9, full, 0, settings(35)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut9, full, 0, settings(36, -100)), full);
    // coarse -80: no value floor left.
    const QRgb dark = hsvColour(93, 230, 10);
    EXPECT_EQ(keyOne(keying::maskOut9, dark, 0, settings()), dark);
    EXPECT_EQ(keyOne(keying::maskOut9, dark, 0, settings(0, -80)), kOut);
    // The tuned band is 70 to 105 only.
    const QRgb outside = hsvColour(69, 230, 150);
    EXPECT_EQ(keyOne(keying::maskOut9, outside, 0, settings(0, -100)), outside);
    EXPECT_EQ(keyOne(keying::maskOut9, hsvColour(70, 230, 150), 0, settings()), kOut);
}

TEST(MaskOut9, BandsAndFixedRules) {
    EXPECT_EQ(keyOne(keying::maskOut9, qRgb(0, 255, 0), 0, settings()), kOut);
    const QRgb h150 = hsvColour(150, 150, 150);
    EXPECT_EQ(keyOne(keying::maskOut9, h150, 0, settings(-100, -100)), h150);
    const QRgb pale = hsvColour(120, 97, 95);
    EXPECT_EQ(keyOne(keying::maskOut9, pale, 0, settings()), pale);
    EXPECT_EQ(keyOne(keying::maskOut9, hsvColour(120, 96, 96), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut9, hsvColour(66, 190, 191), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut9, hsvColour(174, 190, 191), 0, settings()), kOut);
    const QRgb h65 = hsvColour(65, 255, 255), h175 = hsvColour(175, 255, 255);
    EXPECT_EQ(keyOne(keying::maskOut9, h65, 0, settings()), h65);
    EXPECT_EQ(keyOne(keying::maskOut9, h175, 0, settings()), h175);
    for (int backdrop : {0, 1}) {
        EXPECT_EQ(keyOne(keying::maskOut9, qRgb(0, 0, 255), 0, settings(0, 0, backdrop)),
                  qRgb(0, 0, 255));
    }
}

namespace {
QStringList g_messages;
void collectMessages(QtMsgType, const QMessageLogContext&, const QString& msg) {
    g_messages << msg;
}
}  // namespace

TEST(MaskOut9, WritesItsDebugMessageOnEveryCall) {
    g_messages.clear();
    const QtMessageHandler old = qInstallMessageHandler(collectMessages);
    QImage empty;
    keying::maskOut9(empty, 0, settings());
    QImage one = keying_test::rowImage({qRgb(0, 255, 0)});
    keying::maskOut9(one, 0, settings());
    qInstallMessageHandler(old);
    EXPECT_EQ(g_messages, QStringList({"Running Maskout9", "Running Maskout9"}));
    EXPECT_TRUE(empty.isNull());
}

// ---------------------------------------------------------------- MaskOut8 (Magic 7)

TEST(MaskOut8, ClosenessToTheKeyHsv) {
    const QRgb key = hsvColour(120, 200, 180);
    EXPECT_EQ(keyOne(keying::maskOut8, hsvColour(130, 203, 102), key, settings()), kOut);
    const QRgb hueOff = hsvColour(139, 200, 180), satOff = hsvColour(120, 206, 180);
    EXPECT_EQ(keyOne(keying::maskOut8, hueOff, key, settings()), hueOff);
    EXPECT_EQ(keyOne(keying::maskOut8, satOff, key, settings()), satOff);
    EXPECT_EQ(keyOne(keying::maskOut8, hsvColour(120, 195, 181), key, settings()), kOut);
    // The key's alpha plays no part.
    EXPECT_EQ(keyOne(keying::maskOut8, key, key & 0x00ffffffu, settings()), kOut);
}

TEST(MaskOut8, ToleranceSettingsAndMinimumValue) {
    const QRgb key = hsvColour(120, 200, 180);
    EXPECT_EQ(keyOne(keying::maskOut8, key, key, settings(-19)), key);
    EXPECT_EQ(keyOne(keying::maskOut8, key, key, settings(-18)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut8, key, key, settings(0, -88)), key);
    EXPECT_EQ(keyOne(keying::maskOut8, key, key, settings(0, -87)), kOut);
    const QRgb v50 = hsvColour(120, 199, 50), v51 = hsvColour(120, 200, 51);
    EXPECT_EQ(keyOne(keying::maskOut8, v50, v50, settings(100, 100)), v50);
    EXPECT_EQ(keyOne(keying::maskOut8, v51, v51, settings()), kOut);
    for (int backdrop : {0, 1}) {
        EXPECT_EQ(keyOne(keying::maskOut8, key, key, settings(0, 0, backdrop)), kOut);
    }
}

TEST(MaskOut8, GreyKeyTakesPartAsHueMinusOne) {
    const QRgb grey = qRgb(128, 128, 128);
    EXPECT_EQ(keyOne(keying::maskOut8, qRgb(100, 100, 100), grey, settings()), kOut);
    // Pale reds (saturation within 5 of 0) up to hue 17 are keyed, as -1 is then less than
    // 19 away. Such pale colours only take the hues 0, 12, 15, 20, 24, ...
    auto pale = [](int hue) {
        return colourWhere([hue](int r, int g, int b) {
            const keying::Hsv c = keying::rgbToHsv(r, g, b);
            return c.h == hue && c.s <= 5 && c.v > 100 && c.v < 210;
        });
    };
    const auto pale15 = pale(15), pale20 = pale(20);
    ASSERT_TRUE(pale15 && pale20);
    EXPECT_EQ(keyOne(keying::maskOut8, *pale15, grey, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut8, *pale20, grey, settings()), *pale20);
    EXPECT_EQ(keyOne(keying::maskOut8, *pale20, grey, settings(3)), kOut);  // 21 < 22
}

TEST(MaskOut8, HueDoesNotWrap) {
    const QRgb key = hsvColour(2, 200, 200);
    const QRgb far = hsvColour(358, 200, 200);
    EXPECT_EQ(keyOne(keying::maskOut8, far, key, settings(100)), far);
}

// ---------------------------------------------------------------- MaskOut, MaskOut4 (1, 3)

TEST(RatioKeyers, BackdropGreenAndDarkPixels) {
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(0, 255, 0), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut4, qRgb(0, 255, 0), 0, settings()), kOut);
    // Dark green: exception applies (sum 100) but both differences exceed 15.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(20, 60, 20), 0, settings()), kOut);
    // Dark olive: passes through the second clause, kept by the exception.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(40, 50, 10), 0, settings()), qRgb(40, 50, 10));
    // Just brighter than the exception covers: keyed.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(41, 50, 10), 0, settings()), kOut);
}

TEST(RatioKeyers, BlackPassesOnlyWithALowTolerance) {
    const QRgb black = qRgb(0, 0, 0);
    EXPECT_EQ(keyOne(keying::maskOut, black, 0, settings(-29)), black);
    EXPECT_EQ(keyOne(keying::maskOut, black, 0, settings(-30)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut, black, 0, settings(0, -3)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut4, black, 0, settings(-24)), black);
    EXPECT_EQ(keyOne(keying::maskOut4, black, 0, settings(-25)), kOut);
}

TEST(RatioKeyers, ThresholdsAreInclusive) {
    // Green 129 over 100 is 1.29, just below MaskOut's upper threshold 1.291; 130 reaches it.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(100, 130, 100), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(100, 129, 100), 0, settings()), qRgb(100, 129, 100));
    EXPECT_EQ(keyOne(keying::maskOut4, qRgb(100, 125, 100), 0, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut4, qRgb(100, 124, 100), 0, settings()), qRgb(100, 124, 100));
}

TEST(RatioKeyers, BlueBackdropTestsBlueRatios) {
    const KeySettings blue = settings(0, 0, 1);
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(0, 255, 0), 0, blue), qRgb(0, 255, 0));
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(0, 0, 255), 0, blue), kOut);
    EXPECT_EQ(keyOne(keying::maskOut4, qRgb(0, 0, 255), 0, blue), kOut);
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(0, 0, 255), 0, settings()), qRgb(0, 0, 255));
    // Dark blue uses blue against red in the exception.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(10, 40, 50), 0, blue), qRgb(10, 40, 50));
}

// ---------------------------------------------------------------- MaskOut5, MaskOut6 (4, 5)

TEST(DistanceKeyers, StrictDistanceToTheSubstitutedKey) {
    const QRgb key = qRgb(0, 200, 0);  // taken as (1, 200, 1)
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 200, 0), key, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 209, 10), key, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 210, 0), key, settings()), qRgb(0, 210, 0));
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(11, 200, 0), key, settings()), qRgb(11, 200, 0));
    EXPECT_EQ(keyOne(keying::maskOut5, qRgb(0, 229, 30), key, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut5, qRgb(0, 230, 0), key, settings()), qRgb(0, 230, 0));
}

TEST(DistanceKeyers, ToleranceFromCoarseAndFine) {
    const QRgb key = qRgb(0, 200, 0);
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 200, 0), key, settings(0, -100)), qRgb(0, 200, 0));
    EXPECT_EQ(keyOne(keying::maskOut5, qRgb(0, 219, 0), key, settings(0, -100)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut5, qRgb(0, 220, 0), key, settings(0, -100)), qRgb(0, 220, 0));
    // fine 1 makes T 10.01: a distance of 10 now passes.
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 210, 0), key, settings(1)), kOut);
    // The backdrop setting is not read.
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(0, 200, 0), key, settings(0, 0, 1)), kOut);
}

TEST(DistanceKeyers, DarkNeutralException) {
    // Dark grey next to a dark grey key: sum 90, G = B, keyed out.
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(30, 30, 30), qRgb(30, 30, 30), settings()), kOut);
    // Dark, green above blue and close to red: kept.
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(30, 35, 20), qRgb(30, 35, 20), settings()),
              qRgb(30, 35, 20));
}

// ---------------------------------------------------------------- spill pass (1, 3, 4, 5)

TEST(RgbSpillPass, DampsGreenOfKeptPixels) {
    const QRgb farKey = qRgb(255, 0, 255);
    const KeySettings on = settings(0, 0, 0, true);
    EXPECT_EQ(keyOne(keying::maskOut6, qRgba(100, 200, 50, 255), farKey, on),
              qRgba(100, 166, 50, 255));
    EXPECT_EQ(keyOne(keying::maskOut5, qRgba(100, 200, 50, 40), farKey, on),
              qRgba(100, 166, 50, 255));
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(100, 100, 50), farKey, on), qRgb(100, 100, 50));
    EXPECT_EQ(keyOne(keying::maskOut6, qRgb(50, 60, 60), farKey, on), qRgb(50, 60, 60));
    // Green also with a blue backdrop; and a pixel the dark exception kept.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(100, 200, 50), 0, settings(0, 0, 1, true)),
              qRgba(100, 166, 50, 255));
    EXPECT_EQ(keyOne(keying::maskOut4, qRgb(40, 50, 10), 0, on), qRgba(40, 41, 10, 255));
    // Keyed-out pixels stay transparent black.
    EXPECT_EQ(keyOne(keying::maskOut, qRgb(0, 255, 0), 0, on), kOut);
}

TEST(RgbSpillPass, OffLeavesKeptPixelsUntouched) {
    const QRgb farKey = qRgb(255, 0, 255);
    const std::vector<QRgb> px = {qRgba(100, 200, 50, 77), qRgba(10, 250, 10, 0), qRgb(40, 50, 10)};
    EXPECT_EQ(keyRow(keying::maskOut6, px, farKey, settings()), px);
}

// ---------------------------------------------------------------- MaskOut3, MaskOut7 (2, 6)

namespace {
// A colour whose Cb and Cr differ from grey's (128, 128) by the given offsets, with Y
// within 10 of grey's 128.
QRgb chromaOffset(int dCb, int dCr) {
    const auto c = colourWhere([&](int r, int g, int b) {
        return keying::rgb2cb(r, g, b) == 128 + dCb && keying::rgb2cr(r, g, b) == 128 + dCr &&
               std::abs(keying::rgb2y(r, g, b) - 128) <= 10;
    });
    EXPECT_TRUE(c.has_value());
    return c.value_or(0);
}
}  // namespace

TEST(MaskOut3, GreenKeyAndPureGreen) {
    EXPECT_EQ(keyOne(keying::maskOut3, qRgb(0, 255, 0), qRgb(0, 255, 0), settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut3, qRgb(255, 0, 255), qRgb(0, 255, 0), settings()),
              qRgb(255, 0, 255));
}

TEST(MaskOut3, ChromaDistanceCutOff) {
    const QRgb grey = qRgb(128, 128, 128);
    const QRgb d314 = chromaOffset(17, 5), d317 = chromaOffset(14, -11);
    EXPECT_EQ(keyOne(keying::maskOut3, d314, grey, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut3, d317, grey, settings()), d317);
    EXPECT_EQ(keyOne(keying::maskOut3, d317, grey, settings(0, 1)), kOut);
    const QRgb d2 = chromaOffset(1, 1), d4 = chromaOffset(2, 0);
    EXPECT_EQ(keyOne(keying::maskOut3, d2, grey, settings(0, -16)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut3, d4, grey, settings(0, -16)), d4);
}

TEST(MaskOut3, FineAndSpillDoNotMatter) {
    QImage base(80, 60, QImage::Format_ARGB32);
    for (int y = 0; y < base.height(); ++y) {
        for (int x = 0; x < base.width(); ++x) {
            base.setPixel(x, y, qRgba(x * 3, 150 + y, 40 + x, (x * y) & 255));
        }
    }
    QImage a = base, b = base;
    keying::maskOut3(a, qRgb(60, 180, 100), settings(-100, 5));
    keying::maskOut3(b, qRgb(60, 180, 100), settings(100, 5, 1, true, 40));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, base);
    // Kept pixels keep colour and alpha.
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != kOut) {
                ASSERT_EQ(a.pixel(x, y), base.pixel(x, y));
            }
        }
    }
}

TEST(MaskOut7, BoxAroundTheKey) {
    EXPECT_EQ(keyOne(keying::maskOut7, qRgb(0, 255, 0), qRgb(0, 255, 0), settings()), kOut);
    const QRgb grey = qRgb(128, 128, 128);
    const QRgb cb7 = chromaOffset(7, 0), cb8 = chromaOffset(8, 0), cr8 = chromaOffset(0, -8);
    EXPECT_EQ(keyOne(keying::maskOut7, cb7, grey, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut7, cb8, grey, settings()), cb8);
    EXPECT_EQ(keyOne(keying::maskOut7, cr8, grey, settings()), cr8);
    EXPECT_EQ(keyOne(keying::maskOut7, cb8, grey, settings(1)), kOut);
    // Luma: grey 128 against greys 55 away and 56 away.
    EXPECT_EQ(keyOne(keying::maskOut7, qRgb(73, 73, 73), grey, settings()), kOut);
    EXPECT_EQ(keyOne(keying::maskOut7, qRgb(72, 72, 72), grey, settings()), qRgb(72, 72, 72));
    EXPECT_EQ(keyOne(keying::maskOut7, qRgb(72, 72, 72), grey, settings(0, 1)), kOut);
}

TEST(MaskOut7, NoAllowanceKeysNothing) {
    const QRgb key = qRgb(30, 200, 40);
    EXPECT_EQ(keyOne(keying::maskOut7, key, key, settings(-8)), key);
    EXPECT_EQ(keyOne(keying::maskOut7, key, key, settings(-7)), kOut);
    EXPECT_EQ(keyOne(keying::maskOut7, key, key, settings(0, -56)), key);
    EXPECT_EQ(keyOne(keying::maskOut7, key, key, settings(0, -55)), kOut);
    // Spill correction and backdrop are not read; kept pixels keep alpha.
    const QRgb kept = qRgba(200, 40, 30, 99);
    EXPECT_EQ(keyOne(keying::maskOut7, kept, key, settings(0, 0, 1, true, 20)), kept);
}
