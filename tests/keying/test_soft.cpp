// Magic Number 10 on small synthetic shots: a backdrop (even, or falling off to the right)
// with an opaque red patch, and one probe pixel of known coverage beside the patch.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "keying/keyer.h"

namespace {

constexpr QRgb kSubject = qRgb(200, 60, 60);

QRgb backdropAt(int x, bool blue, bool falloff) {
    const double light = falloff ? 1.0 - 0.6 * x / 63 : 1.0;
    const QRgb k = blue ? qRgb(40, 80, 190) : qRgb(50, 180, 80);
    return qRgb(int(qRed(k) * light), int(qGreen(k) * light), int(qBlue(k) * light));
}

bool nearPatch(int x, int y, int margin) {
    return x >= 22 - margin && x < 42 + margin && y >= 22 - margin && y < 42 + margin;
}

}  // namespace

TEST(MaskOutSoft, CoverageAndColourAgainstTheLocalBackdrop) {
    const QPoint Backdrop(5, 5), Subject(32, 32), HalfMix(20, 32);  // where the probe is
    const struct {
        const char* what;
        bool blue, falloff;
        int fine;
        QPoint at;
        int alphaMin, alphaMax;
        int colourTolerance;  // of the probe against the subject; < 0: not checked
    } cases[] = {
        {"backdrop keys out", false, false, 0, Backdrop, 0, 0, -1},
        {"subject stays as it is", false, false, 0, Subject, 255, 255, 0},
        {"half mix is half covered, subject-coloured", false, false, 0, HalfMix, 122, 134, 12},
        {"fall-off keys out", false, true, 0, Backdrop, 0, 0, -1},
        {"half mix over fall-off", false, true, 0, HalfMix, 116, 140, 16},
        {"blue backdrop keys out", true, false, 0, Backdrop, 0, 0, -1},
        {"blue: half mix", true, false, 0, HalfMix, 122, 134, 12},
        {"positive fine keys more", false, false, 60, HalfMix, 40, 110, -1},
        {"negative fine keeps more", false, false, -60, HalfMix, 150, 220, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QImage img(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                img.setPixel(x, y,
                             nearPatch(x, y, 0) ? kSubject : backdropAt(x, c.blue, c.falloff));
        using Channel = int (*)(QRgb);
        if (c.at == HalfMix) {
            const QRgb b = backdropAt(c.at.x(), c.blue, c.falloff);
            const auto half = [&](Channel ch) { return (ch(kSubject) + ch(b) + 1) / 2; };
            img.setPixel(c.at, qRgb(half(qRed), half(qGreen), half(qBlue)));
        }
        keying::KeySettings s;
        s.magic = 10, s.fine = c.fine;
        s.backdrop = c.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
        keying::keyImage(img, 0, s);
        ASSERT_EQ(img.format(), QImage::Format_ARGB32);

        const QRgb out = img.pixel(c.at);
        EXPECT_GE(qAlpha(out), c.alphaMin);
        EXPECT_LE(qAlpha(out), c.alphaMax);
        const auto off = [&](Channel ch) { return std::abs(ch(out) - ch(kSubject)); };
        if (c.colourTolerance >= 0) {
            EXPECT_LE(std::max({off(qRed), off(qGreen), off(qBlue)}), c.colourTolerance)
                << std::hex << out;
        }
        // Everything a few pixels away from the patch is backdrop, and keyed out whole.
        for (int y = 0; c.at == Backdrop && y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if (!nearPatch(x, y, 3)) {
                    ASSERT_EQ(img.pixel(x, y), 0u) << x << ", " << y;
                }
    }
}
