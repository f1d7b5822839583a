// Composing in the foreground's colour space.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <algorithm>

#include "compose/composite.h"
#include "qt_printers.h"
#include "support/photos.h"

namespace {

// Largest difference of a colour channel between two opaque or transparent pixels.
int channelOff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

QImage tagged(const QImage& srgb, const QColorSpace& space) {
    QImage img = srgb;
    img.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return img.convertedToColorSpace(space);
}

}  // namespace

TEST(CompositeColourSpace, TheForegroundDecidesAndTheBackgroundIsConvertedIntoIt) {
    const QColorSpace srgb(QColorSpace::SRgb), adobe(QColorSpace::AdobeRgb),
        p3(QColorSpace::DisplayP3);
    // A keyed subject of alpha 255 and 0 only (a blend of numbers in two encodings is a
    // different colour), over noise of sRGB colours at least 40 levels from either end.
    const auto inside = [](QRandomGenerator& rng) {
        return qRgb(40 + rng.bounded(176), 40 + rng.bounded(176), 40 + rng.bounded(176));
    };
    const QImage fgSrgb = photos::drawn(120, 90, 3, [&](int x, int y, QRandomGenerator& rng) {
        return (x - 60) * (x - 60) + (y - 45) * (y - 45) < 900 ? inside(rng) : 0u;
    });
    const QImage bgSrgb =
        photos::drawn(120, 90, 5, [&](int, int, QRandomGenerator& rng) { return inside(rng); });
    struct Case {
        QColorSpace fg, bg;
        compose::Canvas canvas;
    } cases[] = {
        {adobe, srgb, compose::Canvas::Foreground}, {srgb, adobe, compose::Canvas::Foreground},
        {p3, adobe, compose::Canvas::Background},   {adobe, p3, compose::Canvas::Background},
        {p3, srgb, compose::Canvas::Foreground},    {adobe, adobe, compose::Canvas::Foreground},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fg.description().toStdString() + " over " +
                     c.bg.description().toStdString());
        compose::ComposeSettings s;
        s.canvas = c.canvas;
        const QImage fg = tagged(fgSrgb, c.fg), bg = compose::backgroundLayer(tagged(bgSrgb, c.bg));
        compose::ComposeCache cache;
        const QImage got = compose::createComposite(bg, fg, 40, 20, false, s, &cache);
        EXPECT_EQ(got.colorSpace(), c.fg);
        EXPECT_EQ(compose::dragPreview(bg, fg, 40, 20, false, s, &cache).colorSpace(), c.fg);
        // The same composite made from sRGB copies of both photos.
        const QImage want =
            compose::createComposite(bg.convertedToColorSpace(srgb), fg.convertedToColorSpace(srgb),
                                     40, 20, false, s)
                .convertToFormat(QImage::Format_ARGB32);
        const QImage seen = got.convertedToColorSpace(srgb).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(seen.size(), want.size());
        // Stored in 8 bits of a wider space, a colour comes back within a level mostly and
        // within 4 at worst (exact arithmetic gives the same), whoever converts it.
        int worst = 0, beyondOne = 0;
        for (int y = 0; y < want.height(); ++y) {
            for (int x = 0; x < want.width(); ++x) {
                const int off = channelOff(seen.pixel(x, y), want.pixel(x, y));
                worst = std::max(worst, off);
                beyondOne += off > 1;
            }
        }
        EXPECT_LE(worst, 4);
        EXPECT_LE(beyondOne, want.width() * want.height() / 20);
        // Exactly: the subject keeps its own numbers, the background shows its conversion.
        const QImage bgThere = bg.convertedToColorSpace(c.fg);
        const QImage straight = got.convertToFormat(QImage::Format_ARGB32);
        const QPoint fgAt(40 * got.width() / 415, 20 * got.height() / 345);
        for (const QPoint p : {QPoint(2, 2), QPoint(60, 45) + fgAt, QPoint(110, 80)})
            EXPECT_EQ(straight.pixel(p), fg.rect().contains(p - fgAt) && qAlpha(fg.pixel(p - fgAt))
                                             ? fg.pixel(p - fgAt)
                                             : bgThere.pixel(p))
                << p.x() << "," << p.y();
        // Composing again over the same background does not convert it again.
        const QImage again = compose::createComposite(bg, fg, 40, 20, false, s, &cache);
        EXPECT_TRUE(again == got);
    }
}
