// Results in each format: the foreground's colour space and camera description kept, the
// pixels of the PNG (JPEG within its loss), the name's suffix and its clash rules.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "batch_process.h"
#include "exif_jpeg.h"
#include "photo/photofile.h"
#include "qt_printers.h"
#include "results/photonames.h"
#include "support/files.h"
#include "support/photos.h"

namespace {

const QByteArray kTaken = "2026:12:05 14:03:27";

// Mean and largest difference of the colour channels of two images of one size.
std::pair<double, int> difference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32),
                 y = b.convertToFormat(QImage::Format_ARGB32);
    qint64 sum = 0;
    int worst = 0;
    for (int r = 0; r < x.height(); ++r) {
        for (int c = 0; c < x.width(); ++c) {
            const QRgb p = x.pixel(c, r), q = y.pixel(c, r);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) {
                sum += std::abs(d);
                worst = std::max(worst, std::abs(d));
            }
        }
    }
    return {double(sum) / (3.0 * x.width() * x.height()), worst};
}

}  // namespace

TEST(BatchFormats, EachResultKeepsTheForegroundsSpaceCameraAndPixels) {
    QTemporaryDir tmp;
    const QString bg = photos::saved(tmp.filePath("bg.png"), QSize(200, 150));
    const QColorSpace srgb(QColorSpace::SRgb), adobe(QColorSpace::AdobeRgb),
        p3(QColorSpace::DisplayP3);
    const struct {
        const char* name;
        QColorSpace space;  // the foreground's; invalid: untagged
        bool transparent;
    } shots[] = {{"untagged", QColorSpace(), false},
                 {"adobe", adobe, false},
                 {"p3", p3, false},
                 {"adobe-cut-out", adobe, true}};
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.name);
        QImage fg = photos::studioShot(160, 120);
        fg.setColorSpace(shot.space);
        // Stored sideways with orientation 6, as a camera held on its side writes it.
        const QString fgPath = tmp.filePath(QString(shot.name) + ".jpg");
        QFile file(fgPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(withExifBlock(photos::encoded(fg, "JPG", 95),
                                 cameraExif("Canon", "EOS R5", kTaken, 1)));
        file.close();
        QImage png;
        for (const char* format : {"png", "tiff", "jpeg"}) {
            SCOPED_TRACE(format);
            if (shot.transparent && QByteArray(format) == "jpeg")
                continue;  // a usage error, checked with the others
            const QString out = tmp.filePath(QString("out-") + format);
            QStringList args = {"--output-dir", out, "--format", format, fgPath};
            args +=
                shot.transparent ? QStringList{"--transparent"} : QStringList{"--background", bg};
            const BatchResult r = runBatchTool(args, tmp.filePath("home"));
            ASSERT_EQ(r.status, 0) << r.err.toStdString();
            const QString suffix = QByteArray(format) == "png"    ? "png"
                                   : QByteArray(format) == "tiff" ? "tif"
                                                                  : "jpg";
            const QString result = out + "/" + shot.name + "." + suffix;
            const PhotoLoad load = readPhoto(result);
            ASSERT_TRUE(load.ok()) << problemText(load).toStdString();
            EXPECT_EQ(load.image.colorSpace(), shot.space.isValid() ? shot.space : srgb);
            // Upright already: no orientation is passed on to be applied a second time.
            EXPECT_EQ(load.image.size(), QSize(120, 160));
            EXPECT_EQ(load.camera.make, "Canon");
            EXPECT_EQ(load.camera.model, "EOS R5");
            EXPECT_EQ(load.camera.dateTimeOriginal, kTaken);
            const QByteArray bytes = readFile(result);
            EXPECT_LT(bytes.indexOf(QByteArray("\xFF\xD8\xFF"), 3), 0) << "no thumbnail inside";
            if (QByteArray(format) == "png") {
                png = load.image;
                const bool tagged = shot.space.isValid();
                EXPECT_EQ(bytes.contains("iCCP"), tagged);
                EXPECT_EQ(bytes.contains(QByteArray("sRGB\0", 5)), !tagged);
                EXPECT_EQ(load.image.hasAlphaChannel(), true);
                continue;
            }
            ASSERT_EQ(load.image.size(), png.size());
            // The print resolution, to the whole dot per inch the format keeps.
            EXPECT_NEAR(load.image.dotsPerMeterX(), png.dotsPerMeterX(), 20);
            const auto [mean, worst] = difference(load.image, png);
            if (QByteArray(format) == "tiff") {
                EXPECT_EQ(worst, 0);
                EXPECT_TRUE(load.image.convertToFormat(QImage::Format_ARGB32) ==
                            png.convertToFormat(QImage::Format_ARGB32));
            } else {
                // A quarter of the shot is random colours, JPEG's hardest case.
                EXPECT_LT(mean, 4.5);
                EXPECT_LT(worst, 128);
            }
        }
    }
}

TEST(BatchFormats, JpegColourResolutionFollowsTheQualityAndNamesClashByTheirSuffix) {
    QTemporaryDir tmp;
    const QString bg = photos::saved(tmp.filePath("bg.png"), QSize(200, 150));
    const QString a = photos::saved(tmp.filePath("a/shot.jpg")),
                  b = photos::saved(tmp.filePath("b/shot.png"));
    const struct {
        const char* quality;
        char lumaSampling;  // in the frame header: 0x11 full colour (4:4:4), 0x22 half (4:2:0)
    } cases[] = {{nullptr, 0x11}, {"90", 0x11}, {"89", 0x22}, {"60", 0x22}};
    for (const auto& c : cases) {
        const QString out = tmp.filePath(QString("out") + (c.quality ? c.quality : ""));
        QStringList args = {"--background", bg, "--output-dir", out, "--format", "jpeg", a, b};
        if (c.quality)
            args += {"--quality", c.quality};
        const BatchResult r = runBatchTool(args, tmp.filePath("home"));
        EXPECT_EQ(r.status, 0) << "the second shot.* takes the next name";
        EXPECT_TRUE(r.err.contains("shot.jpg holds the result of " + QDir::toNativeSeparators(a) +
                                   "; written as shot-2.jpg"))
            << r.err.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files), (QStringList{"shot-2.jpg", "shot.jpg"}));
        const QByteArray jpeg = readFile(out + "/shot.jpg");
        const qsizetype sof = jpeg.indexOf("\xFF\xC0");
        ASSERT_GT(sof, 0);
        EXPECT_EQ(jpeg[sof + 11], c.lumaSampling) << (c.quality ? c.quality : "default");
        EXPECT_EQ(jpeg[sof + 14], 0x11);  // Cb as the unit of the sampling factors
    }
    // A result may not replace one of the run's photos, whatever its suffix.
    const QString inOut = photos::saved(tmp.filePath("here/x.jpg"));
    const QByteArray before = readFile(inOut);
    const BatchResult r = runBatchTool(
        {"--background", bg, "--output-dir", tmp.filePath("here"), "--format", "jpeg", inOut},
        tmp.filePath("home"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.contains("x.jpg is a photo in use")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(tmp.filePath("here/x-2.jpg")).isFile());
    EXPECT_EQ(readFile(inOut), before) << "the photo itself is left as it was";
}

TEST(BatchFormats, AJpegOrTiffResultRecordsItsPhotoSoARunAgainReplacesIt) {
    for (const char* format : {"jpeg", "tiff"}) {
        SCOPED_TRACE(format);
        QTemporaryDir tmp;
        const QString bg = photos::saved(tmp.filePath("bg.png"), QSize(200, 150));
        const QString shot = photos::saved(tmp.filePath("a/shot.jpg"));
        const QStringList args = {
            "--background", bg, "--output-dir", tmp.filePath("out"), "--format", format, shot};
        for (int run = 1; run <= 2; ++run) {
            const BatchResult r = runBatchTool(args, tmp.filePath("home"));
            EXPECT_EQ(r.status, 0) << r.err.toStdString();
            EXPECT_FALSE(r.err.contains("written as"))
                << "run " << run << ": " << r.err.toStdString();
        }
        const QStringList files = QDir(tmp.filePath("out")).entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
        EXPECT_EQ(results::resultOrigin(tmp.filePath("out/" + files.first())).source,
                  QFileInfo(shot).canonicalFilePath());
    }
}
