// The composite builder and the drag preview, checked against the plain painter composite.
#include <gtest/gtest.h>

#include <QImage>
#include <QRandomGenerator>
#include <QString>
#include <tuple>

#include "compose/compose_images.h"
#include "compose/composite.h"
#include "compose/reference_composite.h"
#include "qt_printers.h"

namespace {

using compose::ComposeSettings;

ComposeSettings settings(int canvas, int bgScale, int bkpos, int fgSize = 100) {
    ComposeSettings s;
    s.canvas = canvas == 0 ? compose::Canvas::Foreground : compose::Canvas::Background;
    s.bgScale = bgScale == 1 ? compose::BackgroundScale::Fit : compose::BackgroundScale::Actual;
    s.align = bkpos == 1 ? compose::Align::Center : compose::Align::TopLeft;
    s.fgSize = fgSize;
    return s;
}

// Same null-ness, size, format and pixels; names the first differing pixel.
::testing::AssertionResult sameImage(const QImage& got, const QImage& want) {
    if (got.isNull() != want.isNull()) {
        return ::testing::AssertionFailure()
               << "null " << got.isNull() << ", expected null " << want.isNull();
    }
    if (got.isNull()) {
        return ::testing::AssertionSuccess();
    }
    if (got.size() != want.size() || got.format() != want.format()) {
        return ::testing::AssertionFailure()
               << got.width() << "x" << got.height() << " format " << int(got.format())
               << ", expected " << want.width() << "x" << want.height() << " format "
               << int(want.format());
    }
    const int rowBytes = got.width() * got.depth() / 8;
    for (int y = 0; y < got.height(); ++y) {
        if (memcmp(got.constScanLine(y), want.constScanLine(y), size_t(rowBytes)) != 0) {
            const auto* g = reinterpret_cast<const quint32*>(got.constScanLine(y));
            const auto* w = reinterpret_cast<const quint32*>(want.constScanLine(y));
            int x = 0;
            while (g[x] == w[x]) {
                ++x;
            }
            return ::testing::AssertionFailure()
                   << "pixel (" << x << ", " << y << ") is 0x"
                   << QString::number(g[x], 16).toStdString() << ", expected 0x"
                   << QString::number(w[x], 16).toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

quint32 pixelAt(const QImage& img, int x, int y) {
    return reinterpret_cast<const quint32*>(img.constScanLine(y))[x];
}

QImage solid(int w, int h, quint32 argb) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(argb);
    return img;
}

// ----------------------------------------------------------------------------------------------
// Geometry

TEST(CompositeGeometry, CanvasSizeFollowsTheTable) {
    const QImage fg = composeimages::keyed(600, 400, 1);
    const QImage bg = composeimages::background(1000, 800, 2);
    struct Case {
        int canvas, bgScale, fgSize;
        QSize expected;
    };
    const Case cases[] = {
        {0, 1, 100, {600, 400}},  {0, 0, 100, {600, 400}}, {1, 1, 100, {600, 400}},
        {1, 0, 100, {1000, 800}}, {0, 1, 50, {300, 200}},  {0, 0, 50, {300, 200}},
        {1, 1, 50, {300, 200}},   {1, 0, 50, {1000, 800}}, {0, 1, 150, {900, 600}},
    };
    for (const Case& c : cases) {
        for (int bkpos : {0, 1}) {
            const ComposeSettings s = settings(c.canvas, c.bgScale, bkpos, c.fgSize);
            const QImage out = compose::createComposite(bg, fg, 0, 0, false, s);
            EXPECT_EQ(out.size(), c.expected)
                << "canvas " << c.canvas << " bgScale " << c.bgScale << " fgSize " << c.fgSize;
            EXPECT_EQ(out.format(), QImage::Format_ARGB32_Premultiplied);
        }
    }
}

TEST(CompositeGeometry, SizedForegroundUsesTruncatingPercentAndAspectFit) {
    // 333 * 37 / 100 = 123 (123.21) and 101 * 37 / 100 = 37 (37.37); the fit keeps 333:101.
    const QImage fg = composeimages::keyed(333, 101, 3);
    const QImage bg = composeimages::background(50, 50, 4);
    compose::CompositeLayout l;
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 1, 1, 37), nullptr, &l));
    EXPECT_EQ(l.foreground.size(), QSize(333, 101).scaled(123, 37, Qt::KeepAspectRatio));
    EXPECT_EQ(l.background.size(), l.foreground.size());
}

TEST(CompositeGeometry, LargerBackgroundCentredOrTopLeft) {
    // Fully keyed-out foreground: every canvas pixel is the background's.
    const QImage fg = solid(600, 400, 0x00000000);
    const QImage bg = composeimages::background(1000, 800, 5);

    compose::CompositeLayout l;
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 0, 1), nullptr, &l));
    EXPECT_EQ(l.backgroundPos, QPoint(-200, -200));
    const QImage centred = compose::createComposite(bg, fg, 0, 0, false, settings(0, 0, 1));
    ASSERT_EQ(centred.size(), QSize(600, 400));
    for (const QPoint p : {QPoint(0, 0), QPoint(599, 399), QPoint(123, 321)}) {
        EXPECT_EQ(pixelAt(centred, p.x(), p.y()), pixelAt(bg, p.x() + 200, p.y() + 200));
    }

    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 0, 0), nullptr, &l));
    EXPECT_EQ(l.backgroundPos, QPoint(0, 0));
    const QImage topLeft = compose::createComposite(bg, fg, 0, 0, false, settings(0, 0, 0));
    ASSERT_EQ(topLeft.size(), QSize(600, 400));
    EXPECT_EQ(pixelAt(topLeft, 0, 0), pixelAt(bg, 0, 0));
    EXPECT_EQ(pixelAt(topLeft, 599, 399), pixelAt(bg, 599, 399));
}

TEST(CompositeGeometry, SmallerBackgroundLeavesTransparentMargins) {
    const QImage fg = solid(101, 61, 0x00000000);
    const QImage bg = solid(40, 20, 0xff336699);
    const QImage out = compose::createComposite(bg, fg, 0, 0, false, settings(0, 0, 1));
    // (101 - 40) / 2 = 30, (61 - 20) / 2 = 20.
    EXPECT_EQ(pixelAt(out, 29, 30), 0u);
    EXPECT_EQ(pixelAt(out, 30, 20), 0xff336699u);
    EXPECT_EQ(pixelAt(out, 69, 39), 0xff336699u);
    EXPECT_EQ(pixelAt(out, 70, 39), 0u);
    EXPECT_EQ(pixelAt(out, 69, 40), 0u);
}

TEST(CompositeGeometry, ForegroundOnBiggerBackgroundCanvasSitsTopLeft) {
    const QImage fg = solid(30, 20, 0xffff0000);
    const QImage bg = solid(300, 200, 0xff0000ff);
    const QImage out = compose::createComposite(bg, fg, 0, 0, false, settings(1, 0, 1));
    ASSERT_EQ(out.size(), QSize(300, 200));
    EXPECT_EQ(pixelAt(out, 0, 0), 0xffff0000u);
    EXPECT_EQ(pixelAt(out, 29, 19), 0xffff0000u);
    EXPECT_EQ(pixelAt(out, 30, 19), 0xff0000ffu);
    EXPECT_EQ(pixelAt(out, 29, 20), 0xff0000ffu);
}

TEST(CompositeGeometry, OffsetsScalePerAxisAndTruncate) {
    const QImage fg = solid(400, 300, 0xffff0000);
    const QImage bg = solid(400, 300, 0xff0000ff);
    compose::CompositeLayout l;
    // -1 * 400 / 415 truncates to 0; -2 * 400 / 415 to -1; 100 * 300 / 345 = 86.
    ASSERT_TRUE(compose::layoutComposite(bg, fg, -1, 100, settings(0, 1, 1), nullptr, &l));
    EXPECT_EQ(l.foregroundPos, QPoint(0, 86));
    EXPECT_TRUE(sameImage(compose::createComposite(bg, fg, -1, 0, false, settings(0, 1, 1)),
                          compose::createComposite(bg, fg, 0, 0, false, settings(0, 1, 1))));
    ASSERT_TRUE(compose::layoutComposite(bg, fg, -2, -345, settings(0, 1, 1), nullptr, &l));
    EXPECT_EQ(l.foregroundPos, QPoint(-1, -300));
    const QImage shifted = compose::createComposite(bg, fg, -2, 0, false, settings(0, 1, 1));
    EXPECT_EQ(pixelAt(shifted, 398, 0), 0xffff0000u);
    EXPECT_EQ(pixelAt(shifted, 399, 0), 0xff0000ffu);
}

TEST(CompositeGeometry, OffsetsAtThePreviewCornerHideTheForeground) {
    const QImage fg = solid(600, 400, 0xffff0000);
    const QImage bg = composeimages::background(600, 400, 6);
    const QImage hidden = compose::createComposite(bg, fg, 415, 345, false, settings(0, 1, 1));
    const QImage bgOnly =
        compose::createComposite(bg, solid(600, 400, 0), 0, 0, false, settings(0, 1, 1));
    EXPECT_TRUE(sameImage(hidden, bgOnly));
    // One preview pixel less shows the foreground's corner at the bottom right.
    const QImage corner = compose::createComposite(bg, fg, 414, 344, false, settings(0, 1, 1));
    EXPECT_EQ(pixelAt(corner, 599, 399), 0xffff0000u);
}

// ----------------------------------------------------------------------------------------------
// Pixels

TEST(CompositePixels, KeyedOutShowsBackgroundAndKeptPixelsAreUnchanged) {
    const QImage fg = composeimages::keyed(211, 173, 7, false);
    const QImage bg = composeimages::background(211, 173, 8);
    const QImage out = compose::createComposite(bg, fg, 0, 0, false, settings(0, 1, 1));
    ASSERT_EQ(out.size(), fg.size());
    int keyedOut = 0;
    int kept = 0;
    for (int y = 0; y < fg.height(); ++y) {
        for (int x = 0; x < fg.width(); ++x) {
            const quint32 f = pixelAt(fg, x, y);
            if (qAlpha(f) == 0) {
                ASSERT_EQ(pixelAt(out, x, y), pixelAt(bg, x, y)) << x << "," << y;
                ++keyedOut;
            } else if (qAlpha(f) == 255) {
                ASSERT_EQ(pixelAt(out, x, y), f) << x << "," << y;
                ++kept;
            }
        }
    }
    EXPECT_GT(keyedOut, 1000);
    EXPECT_GT(kept, 1000);
}

TEST(CompositePixels, Alpha248LetsSevenIn255Through) {
    const QImage bgWhite = solid(64, 48, 0xffffffff);
    const QImage bgBlack = solid(64, 48, 0xff000000);
    const QImage rimBlack = solid(64, 48, 0xf8000000);
    const QImage rimWhite = solid(64, 48, 0xf8ffffff);
    // Black rim over white: 255 * 7 / 255 = 7 of the background per channel.
    EXPECT_EQ(pixelAt(compose::createComposite(bgWhite, rimBlack, 0, 0, false, settings(0, 1, 1)),
                      10, 10),
              0xff070707u);
    // White rim over black: the rim's own 248 / 255, and nothing of the black.
    EXPECT_EQ(pixelAt(compose::createComposite(bgBlack, rimWhite, 0, 0, false, settings(0, 1, 1)),
                      10, 10),
              0xfff8f8f8u);
    // Over a transparent margin the rim stays translucent.
    const QImage margin =
        compose::createComposite(solid(2, 2, 0xffffffff), rimWhite, 0, 0, false, settings(0, 0, 0));
    EXPECT_EQ(pixelAt(margin, 63, 47), 0xf8f8f8f8u);
}

TEST(CompositePixels, TranslucentForegroundMatchesIdealBlendWithinRounding) {
    for (const int a : {0, 7, 128, 248, 255}) {
        for (const int c : {0, 1, 100, 200, 255}) {
            for (const int b : {0, 90, 255}) {
                const quint32 f = (quint32(a) << 24) | (quint32(c) << 16);
                const QImage out = compose::createComposite(
                    solid(4, 4, 0xff000000u | (quint32(b) << 16)), solid(4, 4, a ? f : 0), 0, 0,
                    false, settings(0, 1, 1));
                const double ideal = c * a / 255.0 + b * (255 - a) / 255.0;
                EXPECT_NEAR(qRed(pixelAt(out, 1, 1)), ideal, 1.0) << a << " " << c << " " << b;
                EXPECT_EQ(qAlpha(pixelAt(out, 1, 1)), 255);
            }
        }
    }
}

// ----------------------------------------------------------------------------------------------
// Transparent case and failures

TEST(CompositeEdges, TransparentReturnsTheKeyedImageItself) {
    const QImage fg = composeimages::keyed(120, 80, 9);
    const QImage bg = composeimages::background(300, 200, 10);
    for (const ComposeSettings& s : {settings(0, 1, 1, 50), settings(1, 0, 0, 200)}) {
        const QImage out = compose::createComposite(bg, fg, 37, -12, true, s);
        EXPECT_EQ(out.cacheKey(), fg.cacheKey());
        EXPECT_EQ(out.format(), QImage::Format_ARGB32);
        EXPECT_TRUE(sameImage(compose::dragPreview(bg, fg, 37, -12, true, s),
                              reference::dragPreview(bg, fg, 37, -12, true, s)));
    }
    EXPECT_TRUE(compose::createComposite(QImage(), fg, 0, 0, true, ComposeSettings()).cacheKey() ==
                fg.cacheKey());
    EXPECT_TRUE(compose::createComposite(bg, QImage(), 0, 0, true, ComposeSettings()).isNull());
    EXPECT_TRUE(compose::dragPreview(bg, QImage(), 0, 0, true, ComposeSettings()).isNull());
}

TEST(CompositeEdges, NullInputsGiveNullImages) {
    const QImage fg = composeimages::keyed(50, 40, 11);
    const QImage bg = composeimages::background(50, 40, 12);
    EXPECT_TRUE(compose::createComposite(QImage(), fg, 0, 0, false, ComposeSettings()).isNull());
    EXPECT_TRUE(compose::createComposite(bg, QImage(), 0, 0, false, ComposeSettings()).isNull());
    EXPECT_TRUE(compose::dragPreview(QImage(), fg, 0, 0, false, ComposeSettings()).isNull());
    EXPECT_TRUE(compose::dragPreview(bg, QImage(), 0, 0, false, ComposeSettings()).isNull());
    ComposeSettings noFrame;
    noFrame.previewSize = QSize(0, 345);
    EXPECT_TRUE(compose::createComposite(bg, fg, 5, 5, false, noFrame).isNull());
    EXPECT_TRUE(compose::dragPreview(bg, fg, 5, 5, false, noFrame).isNull());
}

TEST(CompositeEdges, TinyForegroundAtFivePercent) {
    // 15 * 5 / 100 = 0: no sized foreground.
    const QImage fg = composeimages::keyed(15, 300, 13);
    const QImage bg = composeimages::background(70, 50, 14);
    for (int bkpos : {0, 1}) {
        for (const ComposeSettings& s :
             {settings(0, 1, bkpos, 5), settings(0, 0, bkpos, 5), settings(1, 1, bkpos, 5)}) {
            EXPECT_TRUE(compose::createComposite(bg, fg, 0, 0, false, s).isNull());
            EXPECT_TRUE(compose::dragPreview(bg, fg, 0, 0, false, s).isNull());
        }
        // A canvas of the background's own size still shows the background alone.
        const ComposeSettings own = settings(1, 0, bkpos, 5);
        const QImage out = compose::createComposite(bg, fg, 0, 0, false, own);
        EXPECT_TRUE(sameImage(out, reference::composite(bg, fg, 0, 0, false, own)));
        EXPECT_EQ(out.size(), bg.size());
        EXPECT_TRUE(sameImage(compose::dragPreview(bg, fg, 0, 0, false, own),
                              reference::dragPreview(bg, fg, 0, 0, false, own)));
    }
}

TEST(CompositeEdges, HugePercentIsRefusedNotWrapped) {
    const QImage fg = composeimages::keyed(20, 10, 15);
    const QImage bg = composeimages::background(20, 10, 16);
    EXPECT_TRUE(
        compose::createComposite(bg, fg, 0, 0, false, settings(0, 1, 1, 200000000)).isNull());
    EXPECT_TRUE(compose::createComposite(bg, fg, 0, 0, false, settings(0, 1, 1, -50)).isNull());
}

TEST(CompositeEdges, FarOffsetsDoNotOverflow) {
    const QImage fg = solid(600, 400, 0xffff0000);
    const QImage bg = solid(600, 400, 0xff0000ff);
    for (const int v : {INT_MAX, INT_MIN, 50000000, -50000000}) {
        const QImage out = compose::createComposite(bg, fg, v, v, false, settings(0, 1, 1));
        ASSERT_EQ(out.size(), QSize(600, 400));
        EXPECT_EQ(pixelAt(out, 0, 0), 0xff0000ffu);
        EXPECT_EQ(pixelAt(out, 599, 399), 0xff0000ffu);
        const QImage preview = compose::dragPreview(bg, fg, v, v, false, settings(0, 1, 1));
        EXPECT_EQ(pixelAt(preview, 200, 200), 0xff0000ffu);
    }
}

// ----------------------------------------------------------------------------------------------
// Against the painter composite over many geometries

struct Sweep {
    QSize fg, bg;
    int fgSize;
    QImage::Format bgFormat;
    bool translucentBg;
};

QImage backgroundIn(const Sweep& c, quint32 seed) {
    const QImage bg = composeimages::background(c.bg.width(), c.bg.height(), seed, c.translucentBg);
    return c.bgFormat == QImage::Format_ARGB32 ? bg : bg.convertToFormat(c.bgFormat);
}

TEST(CompositeSweep, MatchesThePainterCompositeAndItsFastScaling) {
    const Sweep sweeps[] = {
        {{600, 400}, {1000, 800}, 100, QImage::Format_ARGB32, false},
        {{601, 399}, {333, 777}, 100, QImage::Format_ARGB32, true},
        {{415, 345}, {415, 345}, 100, QImage::Format_ARGB32, false},  // preview-sized canvas
        {{830, 690}, {200, 150}, 50, QImage::Format_ARGB32, false},   // 415 x 345 after sizing
        {{7, 5}, {3, 11}, 100, QImage::Format_ARGB32, true},          // upscaled to the preview
        {{1, 1}, {1, 1}, 100, QImage::Format_ARGB32, false},
        {{2, 900}, {900, 2}, 100, QImage::Format_ARGB32, false},
        {{257, 131}, {129, 1031}, 37, QImage::Format_ARGB32, false},     // smooth-scaled layers
        {{120, 90}, {640, 480}, 173, QImage::Format_ARGB32, false},      // upscaled foreground
        {{1500, 1000}, {1600, 900}, 100, QImage::Format_ARGB32, false},  // split across cores
        {{1500, 1000}, {1501, 997}, 100, QImage::Format_ARGB32, true},
        {{1300, 1100}, {700, 500}, 80, QImage::Format_ARGB32, false},
        {{333, 222}, {444, 111}, 100, QImage::Format_ARGB32_Premultiplied, true},
        {{333, 222}, {444, 111}, 100, QImage::Format_RGB32, false},
        {{333, 222}, {444, 111}, 100, QImage::Format_RGB888, false},  // painter fallback
        {{333, 222}, {444, 111}, 61, QImage::Format_RGB888, false},
    };
    const QPoint offsets[] = {{0, 0},     {-1, -1},     {100, 50},  {-200, -100}, {414, 344},
                              {415, 345}, {-415, -345}, {17, -263}, {3, 300}};
    QRandomGenerator rng(99);
    quint32 seed = 100;
    for (const Sweep& c : sweeps) {
        const QImage fg = composeimages::keyed(c.fg.width(), c.fg.height(), ++seed);
        const QImage bg = backgroundIn(c, ++seed);
        for (int canvas : {0, 1}) {
            for (int bgScale : {0, 1}) {
                for (int bkpos : {0, 1}) {
                    const ComposeSettings s = settings(canvas, bgScale, bkpos, c.fgSize);
                    compose::ComposeCache cache;
                    for (const QPoint o : offsets) {
                        SCOPED_TRACE(testing::Message()
                                     << "fg " << c.fg.width() << "x" << c.fg.height() << " bg "
                                     << c.bg.width() << "x" << c.bg.height() << " fmt "
                                     << int(c.bgFormat) << " size " << c.fgSize << " canvas "
                                     << canvas << " bgScale " << bgScale << " bkpos " << bkpos
                                     << " offset " << o.x() << "," << o.y());
                        const QImage want = reference::composite(bg, fg, o.x(), o.y(), false, s);
                        const QImage got = compose::createComposite(
                            bg, fg, o.x(), o.y(), false, s, rng.bounded(2) ? &cache : nullptr);
                        ASSERT_TRUE(sameImage(got, want));
                        const QImage preview = compose::dragPreview(
                            bg, fg, o.x(), o.y(), false, s, rng.bounded(2) ? &cache : nullptr);
                        ASSERT_TRUE(sameImage(
                            preview, reference::dragPreview(bg, fg, o.x(), o.y(), false, s)));
                        ASSERT_TRUE(
                            sameImage(preview, got.scaled(s.previewSize, Qt::IgnoreAspectRatio,
                                                          Qt::FastTransformation)));
                    }
                }
            }
        }
    }
}

TEST(CompositeSweep, OtherPreviewFramesAndPremultipliedForeground) {
    const QImage fg =
        composeimages::keyed(523, 377, 201).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage bg = composeimages::background(611, 299, 202, true);
    for (const QSize frame :
         {QSize(415, 345), QSize(1, 1), QSize(1000, 20), QSize(523, 377), QSize(2000, 1500)}) {
        for (int canvas : {0, 1}) {
            ComposeSettings s = settings(canvas, 0, 1);
            s.previewSize = frame;
            SCOPED_TRACE(testing::Message() << "frame " << frame.width() << "x" << frame.height()
                                            << " canvas " << canvas);
            ASSERT_TRUE(sameImage(compose::createComposite(bg, fg, 31, -7, false, s),
                                  reference::composite(bg, fg, 31, -7, false, s)));
            ASSERT_TRUE(sameImage(compose::dragPreview(bg, fg, 31, -7, false, s),
                                  reference::dragPreview(bg, fg, 31, -7, false, s)));
        }
    }
}

TEST(CompositeSweep, CanvasWiderThanTheScalerFixedPointRange) {
    const QImage fg = composeimages::keyed(40000, 3, 203);
    const QImage bg = composeimages::background(40000, 3, 204);
    const ComposeSettings s = settings(0, 1, 1);
    EXPECT_TRUE(sameImage(compose::createComposite(bg, fg, 11, 0, false, s),
                          reference::composite(bg, fg, 11, 0, false, s)));
    EXPECT_TRUE(sameImage(compose::dragPreview(bg, fg, 11, 0, false, s),
                          reference::dragPreview(bg, fg, 11, 0, false, s)));
}

// ----------------------------------------------------------------------------------------------
// Cache

TEST(ComposeCache, ReusesScaledLayersUntilTheSourceChanges) {
    QImage fg = composeimages::keyed(300, 200, 301);
    const QImage bg = composeimages::background(500, 400, 302);
    const ComposeSettings s = settings(0, 1, 1, 50);
    compose::ComposeCache cache;
    compose::CompositeLayout first;
    compose::CompositeLayout second;
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, s, &cache, &first));
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, s, &cache, &second));
    EXPECT_EQ(first.foreground.cacheKey(), second.foreground.cacheKey());
    EXPECT_EQ(first.background.cacheKey(), second.background.cacheKey());

    // Writing the keyed image must not show the stale scaled copy.
    reinterpret_cast<quint32*>(fg.scanLine(100))[150] = 0xff123456u;
    EXPECT_TRUE(sameImage(compose::createComposite(bg, fg, 0, 0, false, s, &cache),
                          reference::composite(bg, fg, 0, 0, false, s)));
    // Nor after the size changes.
    const ComposeSettings bigger = settings(0, 1, 1, 70);
    EXPECT_TRUE(sameImage(compose::createComposite(bg, fg, 0, 0, false, bigger, &cache),
                          reference::composite(bg, fg, 0, 0, false, bigger)));
}

TEST(ComposeCache, KeepsNoCopyWhenNothingIsScaled) {
    QImage fg = composeimages::keyed(300, 200, 303);
    const QImage bg = composeimages::background(300, 200, 304);
    compose::ComposeCache cache;
    compose::CompositeLayout l;
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 1, 1), &cache, &l));
    EXPECT_EQ(l.foreground.cacheKey(), fg.cacheKey());
    EXPECT_EQ(l.background.cacheKey(), bg.cacheKey());
    EXPECT_FALSE(cache.foreground.holdsCopy());
    EXPECT_FALSE(cache.background.holdsCopy());
    l = compose::CompositeLayout();
    // With no second reference left, writing the keyed image does not copy it.
    const uchar* before = fg.constBits();
    fg.scanLine(0)[0] = 1;
    EXPECT_EQ(fg.constBits(), before);
}

TEST(FitPreview, IsTheSmoothProportionKeepingFit) {
    const QImage composite = compose::createComposite(composeimages::background(900, 500, 401),
                                                      composeimages::keyed(900, 500, 402), 0, 0,
                                                      false, settings(0, 1, 1));
    const QImage fit = compose::fitPreview(composite, QSize(415, 345));
    EXPECT_EQ(fit.size(), QSize(415, 230));
    EXPECT_TRUE(sameImage(
        fit, composite.scaled(QSize(415, 345), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    EXPECT_TRUE(compose::fitPreview(QImage(), QSize(415, 345)).isNull());
}

}  // namespace
