// Magic Number 10 on small synthetic shots: a backdrop (even, or falling off to the right)
// with an opaque red patch, and one probe pixel of known coverage beside the patch.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "keying/keyer.h"

namespace {

constexpr int kSize = 64, kPatch0 = 22, kPatch1 = 42;
constexpr QRgb kSubject = qRgb(200, 60, 60);

enum class Probe { Backdrop, Subject, HalfMix };

QRgb backdropAt(int x, bool blue, bool falloff) {
    const double light = falloff ? 1.0 - 0.6 * x / (kSize - 1) : 1.0;
    const QRgb k = blue ? qRgb(40, 80, 190) : qRgb(50, 180, 80);
    return qRgb(int(qRed(k) * light), int(qGreen(k) * light), int(qBlue(k) * light));
}

QRgb mix(QRgb a, QRgb b) {
    return qRgb((qRed(a) + qRed(b) + 1) / 2, (qGreen(a) + qGreen(b) + 1) / 2,
                (qBlue(a) + qBlue(b) + 1) / 2);
}

int maxChannelDiff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

}  // namespace

TEST(MaskOutSoft, CoverageAndColourAgainstTheLocalBackdrop) {
    const struct {
        const char* what;
        bool blue, falloff;
        int fine;
        Probe probe;
        int alphaMin, alphaMax;
        int colourTolerance;  // of the probe against the subject; < 0: not checked
    } cases[] = {
        {"backdrop keys out", false, false, 0, Probe::Backdrop, 0, 0, -1},
        {"subject stays as it is", false, false, 0, Probe::Subject, 255, 255, 0},
        {"half mix is half covered, subject-coloured", false, false, 0, Probe::HalfMix, 122, 134,
         12},
        {"fall-off keys out", false, true, 0, Probe::Backdrop, 0, 0, -1},
        {"half mix over fall-off", false, true, 0, Probe::HalfMix, 116, 140, 16},
        {"blue backdrop keys out", true, false, 0, Probe::Backdrop, 0, 0, -1},
        {"blue: subject stays", true, false, 0, Probe::Subject, 255, 255, 0},
        {"blue: half mix", true, false, 0, Probe::HalfMix, 122, 134, 12},
        {"positive fine keys more", false, false, 60, Probe::HalfMix, 40, 110, -1},
        {"negative fine keeps more", false, false, -60, Probe::HalfMix, 150, 220, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QImage img(kSize, kSize, QImage::Format_RGB32);
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const bool patch = x >= kPatch0 && x < kPatch1 && y >= kPatch0 && y < kPatch1;
                img.setPixel(x, y, patch ? kSubject : backdropAt(x, c.blue, c.falloff));
            }
        }
        const int px = c.probe == Probe::Subject ? 32 : c.probe == Probe::HalfMix ? 20 : 5;
        const int py = c.probe == Probe::Backdrop ? 5 : 32;
        if (c.probe == Probe::HalfMix) {
            img.setPixel(px, py, mix(kSubject, backdropAt(px, c.blue, c.falloff)));
        }
        keying::KeySettings s;
        s.magic = 10;
        s.fine = c.fine;
        s.backdrop = c.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;
        keying::keyImage(img, 0, s);
        ASSERT_EQ(img.format(), QImage::Format_ARGB32);

        const QRgb out = img.pixel(px, py);
        EXPECT_GE(qAlpha(out), c.alphaMin);
        EXPECT_LE(qAlpha(out), c.alphaMax);
        if (c.colourTolerance >= 0) {
            EXPECT_LE(maxChannelDiff(out, kSubject), c.colourTolerance) << std::hex << out;
        }
        if (c.probe == Probe::Backdrop) {
            // Everything a few pixels away from the patch is backdrop, and keyed out whole.
            int kept = 0;
            for (int y = 0; y < kSize; ++y) {
                for (int x = 0; x < kSize; ++x) {
                    const bool near =
                        x >= kPatch0 - 3 && x < kPatch1 + 3 && y >= kPatch0 - 3 && y < kPatch1 + 3;
                    kept += !near && img.pixel(x, y) != 0u;
                }
            }
            EXPECT_EQ(kept, 0);
        }
    }
}
