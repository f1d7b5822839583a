// The engine's frame: key colour sampling, the Magic Number dispatch, empty and tiny
// photos, repeatability and the handling of shared and non-ARGB32 images.
#include <gtest/gtest.h>

#include <QtMessageHandler>

#include "keying/keyer.h"
#include "reference_keyers.h"

namespace {

QImage numbered(int w, int h, QImage::Format format = QImage::Format_ARGB32) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            img.setPixel(x, y, qRgba(x * 10 % 256, y * 10 % 256, (x + y) % 256, 255));
        }
    }
    return img.convertToFormat(format);
}

// A photo with backdrop greens and blues, a subject of other colours, and darks, so that
// every keyer keys some pixels and keeps others.
QImage studioPhoto(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int n = int(seed >> 27) - 16;
            const int dx = x - w / 2, dy = y - h / 2;
            const bool subject = dx * dx * 4 + dy * dy * 9 < w * w;
            int r, g, b;
            if (!subject) {
                r = 30 + n, g = 190 + n + (y * 40 / h), b = 60 + n;
                if (x < w / 6) {
                    r = 20 + n, g = 40 + n, b = 200 + n;
                }
            } else {
                r = 180 + n + (x % 60), g = 120 + n + (y % 50), b = 90 + n;
                if ((x / 7 + y / 5) % 5 == 0) {
                    r = 20 + n / 2, g = 30 + n, b = 25;
                }
            }
            if (y >= h * 3 / 4) {
                // A strip of assorted colours.
                r = int(seed >> 8) & 255, g = int(seed >> 16) & 255, b = int(seed >> 24);
            }
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return img;
}

keying::KeySettings magic(int m) {
    keying::KeySettings s;
    s.magic = m;
    return s;
}

int g_messageCount = 0;
void countMessages(QtMsgType, const QMessageLogContext&, const QString&) {
    ++g_messageCount;
}

}  // namespace

TEST(KeyColour, IsPixelThreeThree) {
    const QImage img = numbered(10, 8);
    EXPECT_EQ(keying::keyColourOf(img), img.pixel(3, 3));
}

TEST(KeyColour, SmallPhotosUseTheNearestPixel) {
    const QImage one = numbered(1, 1);
    EXPECT_EQ(keying::keyColourOf(one), one.pixel(0, 0));
    const QImage three = numbered(3, 3);
    EXPECT_EQ(keying::keyColourOf(three), three.pixel(2, 2));
    const QImage tall = numbered(2, 7);
    EXPECT_EQ(keying::keyColourOf(tall), tall.pixel(1, 3));
    const QImage wide = numbered(9, 1);
    EXPECT_EQ(keying::keyColourOf(wide), wide.pixel(3, 0));
}

TEST(KeyColour, EmptyImageGivesZero) {
    EXPECT_EQ(keying::keyColourOf(QImage()), 0u);
    EXPECT_EQ(keying::keyColourOf(QImage(0, 5, QImage::Format_ARGB32)), 0u);
}

TEST(KeyColour, IsTheColourAfterConversionToArgb32) {
    QImage premul(5, 5, QImage::Format_ARGB32_Premultiplied);
    premul.fill(Qt::transparent);
    premul.setPixelColor(3, 3, QColor(200, 100, 50, 128));
    const QRgb expected =
        premul.convertToFormat(QImage::Format_ARGB32).pixel(3, 3);  // unpremultiplied
    EXPECT_EQ(keying::keyColourOf(premul), expected);
    EXPECT_EQ(qAlpha(expected), 128);

    QImage indexed(6, 6, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(0, 250, 10)});
    indexed.fill(0);
    indexed.setPixel(3, 3, 1);
    EXPECT_EQ(keying::keyColourOf(indexed), qRgb(0, 250, 10));

    const QImage rgb888 = numbered(6, 6, QImage::Format_RGB888);
    EXPECT_EQ(keying::keyColourOf(rgb888), numbered(6, 6).pixel(3, 3));
}

TEST(KeyColour, FollowsAQuarterTurn) {
    // A marker near the bottom-left corner comes to (3, 3) after a clockwise quarter turn.
    QImage img(20, 10, QImage::Format_ARGB32);
    img.fill(Qt::white);
    img.setPixel(3, 6, qRgb(0, 200, 0));  // y = h - 1 - 3
    const QImage turned = img.transformed(QTransform().rotate(90), Qt::FastTransformation);
    ASSERT_EQ(turned.size(), QSize(10, 20));
    EXPECT_EQ(keying::keyColourOf(turned), qRgb(0, 200, 0));
}

TEST(Dispatch, EachMagicNumberRunsItsKeyer) {
    const QImage photo = studioPhoto(120, 90);
    const QRgb key = keying::keyColourOf(photo);
    std::vector<QImage> results;
    for (int m = 1; m <= 9; ++m) {
        QImage fast = photo, plain = photo;
        keying::keyImage(fast, key, magic(m));
        reference::keyerFor(m)(plain, key, magic(m));
        EXPECT_EQ(fast, plain) << "Magic Number " << m;
        EXPECT_NE(fast, photo.convertToFormat(QImage::Format_ARGB32)) << m;
        results.push_back(fast);
    }
    // The photo tells the nine keyers apart, so the check above pins the table order.
    for (int a = 0; a < 9; ++a) {
        for (int b = a + 1; b < 9; ++b) {
            EXPECT_NE(results[a], results[b]) << a + 1 << " vs " << b + 1;
        }
    }
}

TEST(Dispatch, OtherMagicNumbersRunNoKeyer) {
    const QImage photo = studioPhoto(40, 30);
    for (int m : {0, 11, -1, 100}) {
        QImage img = photo;
        keying::keyImage(img, 0, magic(m));
        EXPECT_EQ(img, photo) << m;
        EXPECT_EQ(img.format(), QImage::Format_RGB32) << m;
        EXPECT_EQ(keying::keyerFor(m), nullptr);
    }
}

TEST(Dispatch, EmptyImageRunsNothing) {
    g_messageCount = 0;
    const QtMessageHandler old = qInstallMessageHandler(countMessages);
    for (int m = 1; m <= 9; ++m) {
        QImage empty;
        keying::keyImage(empty, 0, magic(m));
        EXPECT_TRUE(empty.isNull());
        QImage noRows(7, 0, QImage::Format_RGB32);
        keying::keyImage(noRows, 0, magic(m));
    }
    qInstallMessageHandler(old);
    EXPECT_EQ(g_messageCount, 0);  // MaskOut9 was not entered
}

TEST(Frame, TinyPhotosKeyWithoutTrouble) {
    for (QSize size : {QSize(1, 1), QSize(3, 3), QSize(1, 5), QSize(6, 2)}) {
        const QImage photo = studioPhoto(size.width(), size.height());
        for (int m = 1; m <= 9; ++m) {
            QImage fast = photo, plain = photo;
            const QRgb key = keying::keyColourOf(photo);
            keying::keyImage(fast, key, magic(m));
            reference::keyerFor(m)(plain, key, magic(m));
            EXPECT_EQ(fast, plain) << m << " " << size.width() << "x" << size.height();
        }
    }
}

TEST(Frame, KeyingTwiceGivesTheSamePixels) {
    // Large enough to be split across threads.
    const QImage photo = studioPhoto(1500, 1000);
    const QRgb key = keying::keyColourOf(photo);
    for (int m = 1; m <= 9; ++m) {
        keying::KeySettings s = magic(m);
        s.correctSpill = true;
        s.spill = 12;
        QImage first = photo, second = photo;
        keying::keyImage(first, key, s);
        keying::keyImage(second, key, s);
        EXPECT_EQ(first, second) << m;
        if (m == 9 || m == 1) {
            QImage plain = photo;
            reference::keyerFor(m)(plain, key, s);
            EXPECT_EQ(first, plain) << m;
        }
    }
}

TEST(Frame, KeyingACopyLeavesTheOriginal) {
    const QImage photo = studioPhoto(800, 600).convertToFormat(QImage::Format_ARGB32);
    const QImage pristine = photo.copy();
    for (int m = 1; m <= 9; ++m) {
        QImage shared = photo;  // shares pixels until written
        keying::keyImage(shared, keying::keyColourOf(photo), magic(m));
        EXPECT_NE(shared, photo) << m;
    }
    EXPECT_EQ(photo, pristine);
}

TEST(Frame, OtherInputFormatsAreConvertedFirst) {
    const QImage base = studioPhoto(64, 48);
    for (QImage::Format f : {QImage::Format_RGB888, QImage::Format_ARGB32_Premultiplied,
                             QImage::Format_RGB16, QImage::Format_Grayscale8}) {
        const QImage photo = base.convertToFormat(f);
        for (int m = 1; m <= 9; ++m) {
            QImage fast = photo, plain = photo;
            const QRgb key = keying::keyColourOf(photo);
            keying::keyImage(fast, key, magic(m));
            reference::keyerFor(m)(plain, key, magic(m));
            EXPECT_EQ(fast.format(), QImage::Format_ARGB32);
            EXPECT_EQ(fast, plain) << m << " format " << int(f);
        }
    }
}
