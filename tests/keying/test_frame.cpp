// The keying frame: the key colour's sample point, the Magic Number dispatch, and photos of
// any size, format and sharing keyed as the plain keyers key them.
#include <gtest/gtest.h>

#include "keying/keyer.h"
#include "keying/photoframe.h"
#include "qt_printers.h"
#include "reference_keyers.h"
#include "support/photos.h"

namespace {

keying::KeySettings magic(int m, bool correctSpill = false) {
    keying::KeySettings s;
    s.magic = m, s.correctSpill = correctSpill, s.spill = 12;
    return s;
}

// Keys `photo` with every Magic Number, fast and plain, expects the same pixels and gives
// the fast results.
std::vector<QImage> expectPlainResults(const QImage& photo, bool correctSpill = false) {
    const QRgb key = keying::keyColourOf(photo);
    std::vector<QImage> results;
    for (int m = 1; m <= 9; ++m) {
        QImage fast = photo, plain = photo;
        keying::keyImage(fast, key, magic(m, correctSpill));
        reference::keyerFor(m)(plain, key, magic(m, correctSpill));
        EXPECT_EQ(fast.format(), QImage::Format_ARGB32);
        EXPECT_TRUE(fast == plain) << "magic " << m << ", " << photo.width() << " x "
                                   << photo.height() << ", format " << int(photo.format());
        results.push_back(fast);
    }
    return results;
}

}  // namespace

TEST(KeyColour, IsPixelThreeThreeOrTheNearestOneAfterConversion) {
    const QImage shot = photos::studioShot(10, 8).convertToFormat(QImage::Format_ARGB32);
    for (const QImage& img : {shot, shot.copy(0, 0, 2, 7), shot.copy(0, 0, 9, 1)})
        EXPECT_EQ(keying::keyColourOf(img),
                  img.pixel(std::min(3, img.width() - 1), std::min(3, img.height() - 1)));
    QImage premul(5, 5, QImage::Format_ARGB32_Premultiplied);
    premul.setPixelColor(3, 3, QColor(200, 100, 50, 128));
    EXPECT_EQ(keying::keyColourOf(premul),
              premul.convertToFormat(QImage::Format_ARGB32).pixel(3, 3));
    EXPECT_EQ(keying::keyColourOf(QImage()), 0u);
}

TEST(Frame, EachMagicNumberKeysACopyOfAnySizeAndFormatAsItsPlainKeyer) {
    // ARGB32 and large enough to be split across threads, so a shared copy is keyed in place;
    // the photo tells the nine keyers apart, so equality with the plain ones pins the order.
    const QImage photo = photos::studioShot(640, 480).convertToFormat(QImage::Format_ARGB32);
    const QImage pristine = photo.copy();
    const std::vector<QImage> results = expectPlainResults(photo);
    EXPECT_EQ(photo, pristine);
    for (int a = 0; a < 9; ++a)
        for (int b = a + 1; b < 9; ++b)
            EXPECT_NE(results[a], results[b]) << a + 1 << " vs " << b + 1;
    expectPlainResults(photos::studioShot(640, 480), true);
    for (QSize size : {QSize(1, 1), QSize(3, 3), QSize(1, 5), QSize(6, 2)})
        expectPlainResults(photos::studioShot(size.width(), size.height()));
    for (QImage::Format f : {QImage::Format_RGB888, QImage::Format_ARGB32_Premultiplied,
                             QImage::Format_RGB16, QImage::Format_Grayscale8})
        expectPlainResults(photos::studioShot(64, 48).convertToFormat(f));

    // Magic Numbers outside 1..10 leave the photo as it is; an empty one stays empty.
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB32);
    for (int m : {0, 11, -1}) {
        QImage img = rgb;
        keying::keyImage(img, 0, magic(m));
        EXPECT_EQ(img, rgb) << m;
        EXPECT_EQ(img.format(), QImage::Format_RGB32) << m;
    }
    QImage empty;
    keying::keyImage(empty, 0, magic(9));
    EXPECT_TRUE(empty.isNull());
}
