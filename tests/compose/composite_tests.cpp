// The composite and the drag preview, checked against the plain painter composite.
#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <algorithm>
#include <climits>

#include "compose/composite.h"
#include "compose/overlay.h"
#include "compose/reference_composite.h"
#include "qt_printers.h"
#include "support/photos.h"

namespace {

using compose::ComposeSettings;
using photos::background;
using photos::keyed;

ComposeSettings settings(int canvas, int bgScale, int align, int fgSize = 100) {
    ComposeSettings s;
    s.canvas = canvas == 0 ? compose::Canvas::Foreground : compose::Canvas::Background;
    s.bgScale = bgScale == 1 ? compose::BackgroundScale::Fit : compose::BackgroundScale::Actual;
    s.align = align == 1 ? compose::Align::Center : compose::Align::TopLeft;
    s.fgSize = fgSize;
    return s;
}

// The composite and the drag preview both equal the painter's, pixel for pixel and in format.
void expectPainterResult(const QImage& bg, const QImage& fg, QPoint at, const ComposeSettings& s,
                         compose::ComposeCache* cache = nullptr, bool transparent = false) {
    const QImage got = compose::createComposite(bg, fg, at.x(), at.y(), transparent, s, cache);
    const QImage want = reference::composite(bg, fg, at.x(), at.y(), transparent, s);
    ASSERT_EQ(got.format(), want.format());
    ASSERT_TRUE(got == want) << ::testing::PrintToString(got) << " vs "
                             << ::testing::PrintToString(want);
    const QImage preview = compose::dragPreview(bg, fg, at.x(), at.y(), transparent, s, cache);
    ASSERT_TRUE(preview == reference::dragPreview(bg, fg, at.x(), at.y(), transparent, s));
    // Built in the keyed image's own buffer wherever the canvas is that image unscaled.
    QImage mine = fg.copy();
    const uchar* buffer = mine.constBits();
    const QImage inPlace =
        compose::createCompositeInPlace(bg, std::move(mine), at.x(), at.y(), transparent, s, cache);
    ASSERT_EQ(inPlace.format(), want.format());
    ASSERT_TRUE(inPlace == want);
    const bool fastBg = bg.format() == QImage::Format_ARGB32 ||
                        bg.format() == QImage::Format_ARGB32_Premultiplied ||
                        bg.format() == QImage::Format_RGB32;
    if (!transparent && fastBg && fg.format() == QImage::Format_ARGB32 && s.fgSize == 100 &&
        s.canvas == compose::Canvas::Foreground) {
        EXPECT_EQ(inPlace.constBits(), buffer) << "no second canvas";
    }
}

TEST(Composite, MatchesThePainterOverManyGeometries) {
    const struct {
        QSize fg, bg;
        int fgSize;
        QImage::Format bgFormat;
        bool translucentBg;
    } sweeps[] = {
        {{600, 400}, {1000, 800}, 100, QImage::Format_ARGB32, false},
        {{601, 399}, {333, 777}, 100, QImage::Format_ARGB32, true},
        {{415, 345}, {415, 345}, 100, QImage::Format_ARGB32, false},  // preview-sized canvas
        {{830, 690}, {200, 150}, 50, QImage::Format_ARGB32, false},   // 415 x 345 after sizing
        {{7, 5}, {3, 11}, 100, QImage::Format_ARGB32, true},          // upscaled to the preview
        {{1, 1}, {1, 1}, 100, QImage::Format_ARGB32, false},
        {{2, 900}, {900, 2}, 100, QImage::Format_ARGB32, false},
        {{15, 300}, {70, 50}, 5, QImage::Format_ARGB32, false},          // no foreground left
        {{257, 131}, {129, 1031}, 37, QImage::Format_ARGB32, false},     // smooth-scaled layers
        {{120, 90}, {640, 480}, 173, QImage::Format_ARGB32, false},      // upscaled foreground
        {{1500, 1000}, {1600, 900}, 100, QImage::Format_ARGB32, false},  // split across cores
        {{1500, 1000}, {1501, 997}, 100, QImage::Format_ARGB32, true},
        {{1300, 1100}, {700, 500}, 80, QImage::Format_ARGB32, false},
        {{333, 222}, {444, 111}, 100, QImage::Format_ARGB32_Premultiplied, true},
        {{333, 222}, {444, 111}, 100, QImage::Format_RGB32, false},
        {{333, 222}, {444, 111}, 61, QImage::Format_RGB888, false},  // painter fallback
    };
    const QPoint offsets[] = {{0, 0},     {-1, -1},     {100, 50},  {-200, -100}, {414, 344},
                              {415, 345}, {-415, -345}, {17, -263}, {3, 300}};
    QRandomGenerator rng(99);
    quint32 seed = 100;
    for (const auto& c : sweeps) {
        const QImage fg = keyed(c.fg.width(), c.fg.height(), ++seed);
        const QImage bg = background(c.bg.width(), c.bg.height(), ++seed, c.translucentBg)
                              .convertToFormat(c.bgFormat);
        for (int mode = 0; mode < 8; ++mode) {
            const ComposeSettings s = settings(mode & 1, (mode >> 1) & 1, mode >> 2, c.fgSize);
            compose::ComposeCache cache;
            for (const QPoint o : offsets) {
                SCOPED_TRACE(::testing::PrintToString(
                    std::tuple(c.fg, c.bg, c.bgFormat, c.fgSize, mode, o)));
                expectPainterResult(bg, fg, o, s, rng.bounded(2) ? &cache : nullptr);
            }
        }
    }
    // Other preview frames, a premultiplied foreground, transparency, missing pictures, a
    // canvas wider than the scaler's fixed-point range.
    const QImage fg = keyed(523, 377, 201).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage bg = background(611, 299, 202, true);
    for (const QSize frame : {QSize(1, 1), QSize(1000, 20), QSize(2000, 1500)}) {
        ComposeSettings s = settings(1, 0, 1);
        s.previewSize = frame;
        expectPainterResult(bg, fg, {31, -7}, s);
    }
    for (bool transparent : {false, true}) {
        expectPainterResult(bg, fg, {37, -12}, settings(0, 1, 1, 50), nullptr, transparent);
        expectPainterResult(QImage(), fg, {}, {}, nullptr, transparent);
        expectPainterResult(bg, QImage(), {}, {}, nullptr, transparent);
    }
    EXPECT_EQ(compose::createComposite(bg, fg, 1, 2, true, {}).cacheKey(), fg.cacheKey());
    expectPainterResult(bg, fg, {}, settings(0, 1, 1, -50));  // no foreground left
    EXPECT_TRUE(
        compose::createComposite(bg, fg, 0, 0, false, settings(0, 1, 1, 200000000)).isNull())
        << "a size beyond any canvas";
    ComposeSettings noFrame;
    noFrame.previewSize = QSize(0, 345);
    EXPECT_TRUE(compose::createComposite(bg, fg, 5, 5, false, noFrame).isNull());
    EXPECT_TRUE(compose::dragPreview(bg, fg, 5, 5, false, noFrame).isNull());
    expectPainterResult(background(40000, 3, 204), keyed(40000, 3, 203), {11, 0},
                        settings(0, 1, 1));
    // Offsets far beyond any canvas leave the background alone, with no overflow on the way.
    const QImage opaque = background(600, 400, 205);
    const auto argb = [](const QImage& img) { return img.convertToFormat(QImage::Format_ARGB32); };
    for (const int v : {INT_MAX, INT_MIN, 50000000, -50000000}) {
        EXPECT_EQ(argb(compose::createComposite(opaque, fg, v, v, false, settings(1, 0, 0))),
                  opaque);
        EXPECT_EQ(argb(compose::dragPreview(opaque, fg, v, v, false, settings(1, 0, 0))),
                  opaque.scaled(415, 345, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
}

TEST(Composite, CacheReusesScaledLayersUntilTheSourceChanges) {
    QImage fg = keyed(300, 200, 301);
    const QImage bg = background(500, 400, 302);
    compose::ComposeCache cache;
    compose::CompositeLayout first, second;
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 1, 1, 50), &cache, &first));
    ASSERT_TRUE(compose::layoutComposite(bg, fg, 0, 0, settings(0, 1, 1, 50), &cache, &second));
    EXPECT_EQ(first.foreground.cacheKey(), second.foreground.cacheKey());
    EXPECT_EQ(first.background.cacheKey(), second.background.cacheKey());
    // The batch tool's next photo: the subject's copy goes, the scaled background is kept.
    ASSERT_TRUE(cache.foreground.holdsCopy() && cache.background.holdsCopy());
    cache.forgetForeground();
    EXPECT_FALSE(cache.foreground.holdsCopy());
    EXPECT_TRUE(cache.background.holdsCopy());
    // Neither a written keyed image nor a new size may show the stale scaled copy.
    reinterpret_cast<quint32*>(fg.scanLine(100))[150] = 0xff123456u;
    expectPainterResult(bg, fg, {}, settings(0, 1, 1, 50), &cache);
    expectPainterResult(bg, fg, {}, settings(0, 1, 1, 70), &cache);
    // The smooth fit of a release keeps the proportions.
    const QImage composite = compose::createComposite(bg, fg, 0, 0, false, {});
    EXPECT_EQ(compose::fitPreview(composite, {415, 345}),
              composite.scaled(415, 345, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace

namespace {

// A frame: an opaque border, a half-transparent band inside it, clear in the middle.
QImage frame(int w, int h) {
    return photos::drawn(w, h, 401, [&](int x, int y, QRandomGenerator& rng) {
        const int edge = std::min({x, y, w - 1 - x, h - 1 - y});
        const quint32 rgb = rng.generate() & 0xffffffu;
        return edge < w / 10 ? 0xff000000u | rgb : edge < w / 5 ? 0x80000000u | rgb : 0u;
    });
}

TEST(Composite, FillAndOverlayMatchThePainter) {
    const struct {
        QSize fg, bg, overlay;
        compose::BackgroundScale scale;
        int canvas, align;
        bool transparent;
    } cases[] = {
        // A landscape background behind a portrait shot, and the other way round.
        {{400, 600}, {900, 600}, {}, compose::BackgroundScale::Fill, 0, 1, false},
        {{600, 400}, {500, 750}, {}, compose::BackgroundScale::Fill, 1, 0, false},
        {{600, 400}, {300, 200}, {}, compose::BackgroundScale::Fill, 0, 0, false},  // enlarged
        {{600, 400}, {900, 600}, {300, 200}, compose::BackgroundScale::Fit, 0, 1, false},
        {{400, 600}, {900, 600}, {600, 400}, compose::BackgroundScale::Fill, 0, 1, false},  // bands
        {{600, 400}, {1000, 800}, {1200, 801}, compose::BackgroundScale::Actual, 1, 0, false},
        {{415, 345}, {415, 345}, {415, 345}, compose::BackgroundScale::Fit, 0, 1, false},
        {{500, 300}, {}, {250, 150}, compose::BackgroundScale::Fit, 0, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::tuple(c.fg, c.bg, c.overlay, int(c.scale))));
        const QImage fg = keyed(c.fg.width(), c.fg.height(), 402);
        const QImage bg = c.bg.isEmpty() ? QImage() : background(c.bg.width(), c.bg.height(), 403);
        const QImage ov =
            c.overlay.isEmpty() ? QImage() : frame(c.overlay.width(), c.overlay.height());
        ComposeSettings s = settings(c.canvas, 1, c.align);
        s.bgScale = c.scale;
        compose::ComposeCache cache;
        for (const QPoint at : {QPoint(0, 0), QPoint(-40, 25)})
            for (compose::ComposeCache* k :
                 {static_cast<compose::ComposeCache*>(nullptr), &cache}) {
                const QImage got =
                    compose::createComposite(bg, fg, at.x(), at.y(), c.transparent, s, k, ov);
                const QImage want =
                    reference::composite(bg, fg, at.x(), at.y(), c.transparent, s, ov);
                ASSERT_EQ(got.format(), want.format());
                ASSERT_TRUE(got == want);
                ASSERT_TRUE(compose::dragPreview(bg, fg, at.x(), at.y(), c.transparent, s, k, ov) ==
                            reference::dragPreview(bg, fg, at.x(), at.y(), c.transparent, s, ov));
            }
    }
}

TEST(Overlay, ProportionsDifferWhenItLeavesBands) {
    const struct {
        QSize overlay, canvas;
        bool differs;
        QRect at;
    } cases[] = {
        {{600, 400}, {3000, 2000}, false, {0, 0, 3000, 2000}},
        {{600, 400}, {2000, 3000}, true, {0, 833, 2000, 1333}},
        {{6001, 4000}, {6000, 4000}, false, {0, 0, 6000, 3999}},  // one pixel of rounding
        {{100, 100}, {300, 200}, true, {50, 0, 200, 200}},
        {{}, {300, 200}, false, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compose::overlayProportionsDiffer(c.overlay, c.canvas), c.differs)
            << c.canvas.width();
        EXPECT_EQ(compose::overlayRect(c.overlay, c.canvas), c.at) << c.canvas.width();
    }
}

}  // namespace
