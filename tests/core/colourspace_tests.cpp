// The colour space and camera description the loader keeps with a photo.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>

#include "core/photofile.h"
#include "exif_jpeg.h"
#include "qt_printers.h"

namespace {

const QByteArray kTaken = "2026:12:05 14:03:27";

// A 40 x 30 photo of three colours, tagged with `space` (invalid: untagged), as `format` holds it.
QByteArray photo(const char* format, const QColorSpace& space) {
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(qRgb(200, 40, 50));
    for (int y = 10; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            img.setPixel(x, y, x < 20 ? qRgb(30, 200, 60) : qRgb(20, 40, 220));
    img.setColorSpace(space);
    return photos::encoded(img, format, 95);
}

// `jpeg` with its ICC profile's header overwritten: a profile no decoder can use.
QByteArray brokenProfile(QByteArray jpeg) {
    const qsizetype at = jpeg.indexOf("ICC_PROFILE");
    for (qsizetype i = at + 14; i < at + 14 + 128 && at >= 0; ++i)
        jpeg[i] = 'Z';
    return jpeg;
}

}  // namespace

TEST(PhotoColourSpace, TheLoaderKeepsWhatThePhotoDeclares) {
    const QColorSpace srgb(QColorSpace::SRgb), adobe(QColorSpace::AdobeRgb),
        p3(QColorSpace::DisplayP3);
    const QByteArray adobeExif = cameraExif("Canon", "EOS R5", kTaken, 0xFFFF, "R03");
    struct Case {
        const char* name;
        QByteArray file;
        QColorSpace expected;
        bool note;    // the photo is named as having an unusable profile
        QSize size;   // upright
        bool camera;  // its make, model and capture date are read
    } cases[] = {
        {"untagged JPEG", photo("JPG", QColorSpace()), srgb, false, {40, 30}, false},
        {"Adobe RGB JPEG", photo("JPG", adobe), adobe, false, {40, 30}, false},
        {"Display P3 JPEG", photo("JPG", p3), p3, false, {40, 30}, false},
        {"Display P3 PNG", photo("PNG", p3), p3, false, {40, 30}, false},
        {"Adobe RGB TIFF", photo("TIFF", adobe), adobe, false, {40, 30}, false},
        {"untagged PNG", photo("PNG", QColorSpace()), srgb, false, {40, 30}, false},
        {"EXIF R03, no profile",
         withExifBlock(photo("JPG", QColorSpace()), adobeExif),
         adobe,
         false,
         {30, 40},
         true},
        {"EXIF sRGB with R98",
         withExifBlock(photo("JPG", QColorSpace()), cameraExif("Nikon", "Z 8", kTaken, 1, "R98")),
         srgb,
         false,
         {30, 40},
         true},
        {"uncalibrated, R98",
         withExifBlock(photo("JPG", QColorSpace()),
                       cameraExif("Nikon", "Z 8", kTaken, 0xFFFF, "R98")),
         srgb,
         false,
         {30, 40},
         true},
        {"profile and turned",
         withExifBlock(photo("JPG", p3), adobeExif),
         p3,
         false,
         {30, 40},
         true},
        {"unusable profile", brokenProfile(photo("JPG", adobe)), srgb, true, {40, 30}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        QBuffer buffer(&c.file);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        const PhotoLoad load = readPhoto(&buffer);
        ASSERT_TRUE(load.ok()) << problemText(load).toStdString();
        EXPECT_EQ(load.image.size(), c.size);
        EXPECT_EQ(load.image.colorSpace(), c.expected);
        EXPECT_EQ(!load.note.isEmpty(), c.note) << load.note.toStdString();
        // The numbers are the file's own: nothing is converted on reading.
        const QImage plain = QImage::fromData(c.file);
        const QRgb corner = c.size == QSize(30, 40) ? plain.pixel(0, 29) : plain.pixel(0, 0);
        EXPECT_EQ(load.image.pixel(0, 0), corner);
        EXPECT_EQ(load.camera.make, c.camera
                                        ? QByteArray(c.file.contains("Canon") ? "Canon" : "Nikon")
                                        : QByteArray());
        EXPECT_EQ(load.camera.dateTimeOriginal, c.camera ? kTaken : QByteArray());
        EXPECT_EQ(load.camera.model.isEmpty(), !c.camera);
    }
}
