// The fast keyers against the plain per-pixel ones over all 16,777,216 colours, at several
// settings each. Under a sanitizer (or with MATTORA_SANITIZED set) only the first case of
// each keyer runs, to keep the run short.
#include <gtest/gtest.h>

#include <QString>
#include <cstring>
#include <sstream>

#include "keying/keyer.h"
#include "reference_keyers.h"

namespace {

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return qEnvironmentVariableIsSet("MATTORA_SANITIZED");
#endif
}

enum class Layout {
    Argb,     // ARGB32, every colour once, varied alpha
    Rgb32,    // RGB32: the keyers convert first
    Flipped,  // ARGB32 upside down, so a different top third feeds MaskOut10's estimate
};

// 4096 x 4096, pixel (x, y) holds colour y * 4096 + x.
const QImage& allColours(Layout layout) {
    static const QImage argb = [] {
        QImage img(4096, 4096, QImage::Format_ARGB32);
        for (int y = 0; y < 4096; ++y) {
            auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
            for (int x = 0; x < 4096; ++x) {
                const quint32 alpha = quint32((x * 7 + y * 13) & 0xff);
                row[x] = (alpha << 24) | quint32(y * 4096 + x);
            }
        }
        return img;
    }();
    static const QImage rgb32 = [] {
        QImage img(4096, 4096, QImage::Format_RGB32);
        for (int y = 0; y < 4096; ++y) {
            auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
            for (int x = 0; x < 4096; ++x) {
                row[x] = 0xff000000u | quint32(y * 4096 + x);
            }
        }
        return img;
    }();
    static const QImage flipped = argb.mirrored(false, true);
    switch (layout) {
        case Layout::Rgb32:
            return rgb32;
        case Layout::Flipped:
            return flipped;
        default:
            return argb;
    }
}

struct Case {
    int magic;
    QRgb key;
    int fine, coarse, spill;
    bool correctSpill;
    int backdrop;
    Layout layout = Layout::Argb;
    bool quick = false;  // the case kept under sanitizers
};

std::string describe(const Case& c) {
    std::ostringstream o;
    o << "Magic" << c.magic << "_key" << std::hex << c.key << std::dec << "_fine"
      << (c.fine < 0 ? "m" : "") << std::abs(c.fine) << "_coarse" << (c.coarse < 0 ? "m" : "")
      << std::abs(c.coarse) << "_spill" << c.spill << (c.correctSpill ? "on" : "off")
      << (c.backdrop == 1 ? "_blue" : "_green")
      << (c.layout == Layout::Rgb32     ? "_rgb32"
          : c.layout == Layout::Flipped ? "_flipped"
                                        : "");
    return o.str();
}

class AllColours : public ::testing::TestWithParam<Case> {};

TEST_P(AllColours, FastEqualsPlain) {
    const Case& c = GetParam();
    if (sanitized() && !c.quick) {
        GTEST_SKIP() << "reduced set under sanitizers";
    }
    keying::KeySettings s;
    s.magic = c.magic;
    s.fine = c.fine;
    s.coarse = c.coarse;
    s.spill = c.spill;
    s.correctSpill = c.correctSpill;
    s.backdrop = c.backdrop == 1 ? keying::Backdrop::Blue : keying::Backdrop::Green;

    const QImage& source = allColours(c.layout);
    QImage fast = source;
    keying::keyImage(fast, c.key, s);
    QImage plain = source;
    reference::keyerFor(c.magic)(plain, c.key, s);

    ASSERT_EQ(fast.format(), QImage::Format_ARGB32);
    ASSERT_EQ(plain.format(), QImage::Format_ARGB32);
    ASSERT_EQ(fast.size(), plain.size());
    int mismatches = 0;
    qint64 changed = 0;
    const QImage src = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < fast.height(); ++y) {
        const auto* a = reinterpret_cast<const quint32*>(fast.constScanLine(y));
        const auto* b = reinterpret_cast<const quint32*>(plain.constScanLine(y));
        const auto* o = reinterpret_cast<const quint32*>(src.constScanLine(y));
        for (int x = 0; x < fast.width(); ++x) {
            changed += a[x] != o[x];
        }
        if (std::memcmp(a, b, size_t(fast.width()) * 4) == 0) {
            continue;
        }
        for (int x = 0; x < fast.width() && mismatches < 10; ++x) {
            if (a[x] != b[x]) {
                ADD_FAILURE() << "pixel " << x << "," << y << " source " << std::hex << o[x]
                              << " fast " << a[x] << " plain " << b[x];
                ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    // A case that changes nothing, or everything, would say little.
    EXPECT_GT(changed, 0);
    EXPECT_LT(changed, qint64(4096) * 4096);
}

const Case kCases[] = {
    // MaskOut10
    {9, 0, 0, 0, 0, false, 0, Layout::Argb, true},
    {9, 0, 0, 0, 0, true, 0},
    {9, 0, 15, 0, 23, true, 1},
    {9, 0, -25, 0, 40, true, 0, Layout::Rgb32},
    {9, 0, 30, 0, 1, true, 0, Layout::Flipped},
    {9, 0, 60, 0, 9, true, 1, Layout::Flipped},
    // MaskOut9
    {8, 0, 0, 0, 0, false, 0, Layout::Argb, true},
    {8, 0, -40, -85, 0, false, 0},
    {8, 0, 30, 50, 0, true, 1, Layout::Rgb32},
    // MaskOut8
    {7, qRgb(40, 180, 60), 0, 0, 0, false, 0, Layout::Argb, true},
    {7, qRgb(128, 128, 128), 10, -30, 0, true, 0},
    {7, qRgb(0, 0, 255), -10, 50, 0, false, 1, Layout::Rgb32},
    // MaskOut
    {1, 0, 0, 0, 0, false, 0, Layout::Argb, true},
    {1, 0, 37, -3, 0, true, 1},
    {1, 0, -50, -13, 0, true, 0, Layout::Rgb32},
    {1, 0, 13, 0, 0, true, 0},
    // MaskOut4
    {3, 0, -23, 0, 0, true, 0, Layout::Argb, true},
    {3, 0, 0, 0, 0, false, 1},
    {3, 0, 71, 1, 0, true, 0, Layout::Rgb32},
    // MaskOut5
    {4, qRgb(30, 200, 60), 0, 0, 0, false, 0, Layout::Argb, true},
    {4, qRgb(0, 0, 0), 55, 2, 0, true, 0},
    {4, qRgb(20, 40, 230), -37, -1, 0, true, 1, Layout::Rgb32},
    // MaskOut6
    {5, qRgb(0, 200, 0), 0, 0, 0, true, 0, Layout::Argb, true},
    {5, qRgb(200, 100, 0), -33, 10, 0, false, 0},
    {5, qRgb(12, 13, 14), 99, 0, 0, true, 1},
    // MaskOut3
    {2, qRgb(0, 255, 0), 0, 0, 0, false, 0, Layout::Argb, true},
    {2, qRgb(0, 255, 0), 0, 10, 0, true, 0},
    {2, qRgb(20, 40, 200), 0, -16, 0, false, 0, Layout::Rgb32},
    {2, qRgb(90, 90, 90), 0, 100, 0, false, 0},
    // MaskOut7
    {6, qRgb(0, 255, 0), 0, 0, 0, false, 0, Layout::Argb, true},
    {6, qRgb(60, 160, 90), 20, -30, 0, true, 0},
    {6, qRgb(0, 0, 255), 3, 40, 0, false, 1, Layout::Rgb32},
};

INSTANTIATE_TEST_SUITE_P(Keyers, AllColours, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return describe(info.param);
                         });

}  // namespace
