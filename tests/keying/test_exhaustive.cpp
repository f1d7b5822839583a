// The fast keyers against the plain per-pixel ones over all 16,777,216 colours, at several
// settings each. Under a sanitizer (or with MATTORA_SANITIZED set) only the first case of each
// keyer runs, to keep the run short.
#include <gtest/gtest.h>

#include <cstring>

#include "keying/keyer.h"
#include "reference_keyers.h"
#include "support/photos.h"

namespace {

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return qEnvironmentVariableIsSet("MATTORA_SANITIZED");
#endif
}

// ARGB32 with varied alpha; RGB32, which the keyers convert first; and ARGB32 upside down, so
// that a different top third feeds MaskOut10's backdrop estimate.
enum Layout { Argb, Rgb32, Flipped };

// 4096 x 4096, pixel (x, y) holds colour y * 4096 + x: with varied alpha, as ARGB32; opaque, as
// RGB32; and the first upside down.
const QImage& allColours(Layout layout) {
    static const QImage argb = photos::drawn(4096, 4096, 0, [](int x, int y, QRandomGenerator&) {
        return quint32((x * 7 + y * 13) & 0xff) << 24 | quint32(y * 4096 + x);
    });
    static const QImage rgb32 = argb.convertToFormat(QImage::Format_RGB32),
                        flipped = argb.mirrored(false, true);
    return layout == Rgb32 ? rgb32 : layout == Flipped ? flipped : argb;
}

struct Case {
    int magic;
    QRgb key;
    int fine, coarse, spill;
    bool correctSpill, blue;
    Layout layout = Argb;
    bool quick = false;  // the case kept under sanitizers
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << "magic " << c.magic << " key " << std::hex << c.key << std::dec << " fine " << c.fine
        << " coarse " << c.coarse << " spill " << c.spill << (c.correctSpill ? " on" : " off")
        << (c.blue ? " blue" : " green") << " layout " << int(c.layout);
}

class AllColours : public ::testing::TestWithParam<Case> {};

TEST_P(AllColours, FastEqualsPlain) {
    const Case& c = GetParam();
    if (sanitized() && !c.quick)
        GTEST_SKIP() << "reduced set under sanitizers";
    keying::KeySettings s;
    s.magic = c.magic, s.fine = c.fine, s.coarse = c.coarse, s.spill = c.spill;
    s.correctSpill = c.correctSpill;
    s.backdrop = c.blue ? keying::Backdrop::Blue : keying::Backdrop::Green;

    const QImage& source = allColours(c.layout);
    QImage fast = source, plain = source;
    keying::keyImage(fast, c.key, s);
    reference::keyerFor(c.magic)(plain, c.key, s);
    ASSERT_EQ(fast.format(), QImage::Format_ARGB32);
    ASSERT_EQ(plain.format(), QImage::Format_ARGB32);
    ASSERT_EQ(fast.size(), plain.size());
    const QImage src = source.convertToFormat(QImage::Format_ARGB32);
    int mismatches = 0;
    qint64 changed = 0;
    for (int y = 0; y < fast.height(); ++y) {
        const auto* a = reinterpret_cast<const quint32*>(fast.constScanLine(y));
        const auto* b = reinterpret_cast<const quint32*>(plain.constScanLine(y));
        const auto* o = reinterpret_cast<const quint32*>(src.constScanLine(y));
        for (int x = 0; x < fast.width(); ++x) {
            changed += a[x] != o[x];
            if (a[x] != b[x] && mismatches++ < 10)
                ADD_FAILURE() << "pixel " << x << "," << y << " source " << std::hex << o[x]
                              << " fast " << a[x] << " plain " << b[x];
        }
    }
    EXPECT_EQ(mismatches, 0);
    // A case that changes nothing, or everything, would say little.
    EXPECT_GT(changed, 0);
    EXPECT_LT(changed, qint64(4096) * 4096);
}

// Magic Numbers 9, 8, 7, 1, 3, 4, 5, 2, 6 in turn; the first of each runs under sanitizers.
// Their default settings are checked on a studio shot by the frame tests.
const Case kCases[] = {{9, 0, 15, 0, 23, true, true, Argb, true},
                       {9, 0, -25, 0, 40, true, false, Rgb32},
                       {9, 0, 60, 0, 9, true, true, Flipped},
                       {8, 0, -40, -85, 0, false, false, Argb, true},
                       {8, 0, 30, 50, 0, true, true, Rgb32},
                       {7, qRgb(128, 128, 128), 10, -30, 0, true, false, Argb, true},
                       {7, qRgb(0, 0, 255), -10, 50, 0, false, true, Rgb32},
                       {1, 0, 37, -3, 0, true, true, Argb, true},
                       {1, 0, -50, -13, 0, true, false, Rgb32},
                       {3, 0, -23, 0, 0, true, false, Argb, true},
                       {3, 0, 71, 1, 0, false, true, Rgb32},
                       {4, qRgb(0, 0, 0), 55, 2, 0, true, false, Argb, true},
                       {4, qRgb(20, 40, 230), -37, -1, 0, true, true, Rgb32},
                       {5, qRgb(0, 200, 0), 0, 0, 0, true, false, Argb, true},
                       {5, qRgb(200, 100, 0), -33, 10, 0, false, false, Rgb32},
                       {2, qRgb(0, 255, 0), 0, 10, 0, true, false, Argb, true},
                       {2, qRgb(20, 40, 200), 0, -16, 0, false, false, Rgb32},
                       {6, qRgb(60, 160, 90), 20, -30, 0, true, false, Argb, true},
                       {6, qRgb(0, 0, 255), 3, 40, 0, false, true, Rgb32}};

INSTANTIATE_TEST_SUITE_P(Keyers, AllColours, ::testing::ValuesIn(kCases));

}  // namespace
