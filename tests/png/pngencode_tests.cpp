// The PNG encoder: its files decode to what Qt's own PNG writer's files decode to, and it
// reports the failures of the device it writes to.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <string>

#include "png/pngencode.h"
#include "png/pngfile.h"
#include "qt_printers.h"
#include "support/photos.h"

namespace {

// The image as a PNG stream from Qt's own writer, or from the encoder.
QByteArray encoded(const QImage& image, int quality, bool ours) {
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    QImageWriter writer(&buf, "png");
    writer.setQuality(quality);
    QString error;
    EXPECT_TRUE(ours ? png::encodePng(image, &buf, quality, &error) : writer.write(image))
        << error.toStdString() << writer.errorString().toStdString();
    return buf.data();
}

// Everything a decoded PNG carries besides its pixels.
QString metadata(const QImage& img) {
    const QColorSpace cs = img.colorSpace();
    QString out = QString::asprintf("format %d, %d x %d dpm, offset %d,%d, space %d '%s' %s",
                                    int(img.format()), img.dotsPerMeterX(), img.dotsPerMeterY(),
                                    img.offset().x(), img.offset().y(), int(cs.isValid()),
                                    cs.description().toUtf8().constData(),
                                    cs.iccProfile().toHex().constData());
    for (const QString& key : img.textKeys())
        out += "\n" + key + "=" + img.text(key);
    return out;
}

// Both streams decode to the same format, pixels, colour space, resolution, offset and texts.
::testing::AssertionResult decodeAlike(const QByteArray& ours, const QByteArray& qts) {
    const QImage got = QImage::fromData(ours, "PNG"), want = QImage::fromData(qts, "PNG");
    if (got.isNull() || got != want)
        return ::testing::AssertionFailure() << "pixels differ: " << ::testing::PrintToString(got)
                                             << " vs " << ::testing::PrintToString(want);
    if (metadata(got) != metadata(want))
        return ::testing::AssertionFailure()
               << metadata(got).toStdString() << "\nexpected " << metadata(want).toStdString();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult matchesQt(const QImage& image, int quality) {
    return decodeAlike(encoded(image, quality, true), encoded(image, quality, false));
}

// Noise with alpha 0 and 255 frequent, as in a composite; premultiplied pixels are valid.
QImage noise(int w, int h, QImage::Format format, quint32 seed) {
    const bool premultiplied = format == QImage::Format_ARGB32_Premultiplied;
    QImage img = photos::drawn(w, h, seed, [&](int, int, QRandomGenerator& rng) {
        const quint32 v = rng.generate(), a = (v & 3) == 0 ? 255 : (v & 3) == 1 ? 0 : v >> 24;
        const auto below = [&] { return int(rng.bounded(a + 1)); };
        return premultiplied ? qRgba(below(), below(), below(), int(a)) : (v & 0xffffffu) | a << 24;
    });
    img.reinterpretAsFormat(format);
    return img;
}

TEST(PngEncode, PixelsMatchQtForEachFormatSizeAndQuality) {
    std::vector<QImage> cases;
    quint32 seed = 1;
    for (QImage::Format format :
         {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32})
        for (QSize size : {QSize(1, 1), QSize(1, 7), QSize(3, 5), QSize(7, 3), QSize(333, 41),
                           QSize(23001, 5), QSize(2101, 1801)})  // long rows; several bands
            cases.push_back(noise(size.width(), size.height(), format, seed++));
    // Every premultiplied alpha and value pair, at every offset within a row.
    QImage pairs(257, 256, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 257; ++x)
            pairs.setPixel(x, y, qRgba(x & 255, (x ^ 0x55) & 255, y, (x + y) & 255));
    cases.push_back(pairs);
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_Grayscale8,
                                  QImage::Format_Indexed8, QImage::Format_RGBA64_Premultiplied})
        cases.push_back(noise(37, 11, QImage::Format_ARGB32, 5).convertToFormat(format));
    for (const QImage& c : cases)
        for (int quality : {100, 50, 95, 89, 0, -1}) {
            EXPECT_TRUE(matchesQt(c, quality)) << ::testing::PrintToString(c) << " q" << quality;
            if (c.height() > 1000 && quality == 50)
                break;  // the large ones stored and compressed once each
        }
}

TEST(PngEncode, MetadataMatchesQt) {
    const auto named = [](QColorSpace cs, const char* description) {
        cs.setDescription(QString::fromUtf8(description));
        return cs;
    };
    // Blanks libpng would squeeze and a character outside Latin-1; no name; a long name.
    const QColorSpace spaces[] = {
        QColorSpace(), QColorSpace::SRgb,
        named({QColorSpace::Primaries::DciP3D65, QColorSpace::TransferFunction::SRgb},
              "  wide  gamut \xe2\x82\xac "),
        named(QColorSpace(QColorSpace::Primaries::ProPhotoRgb, 2.2f), ""),
        named(QColorSpace::DisplayP3, std::string(120, 'p').c_str())};
    QImage img = noise(9, 4, QImage::Format_ARGB32_Premultiplied, 9);
    for (const QColorSpace& cs : spaces) {
        img.setColorSpace(cs);
        EXPECT_TRUE(matchesQt(img, 100)) << cs.description().toStdString();
    }
    img.setDotsPerMeterX(11811);
    img.setDotsPerMeterY(-5);
    img.setOffset(QPoint(-40, 7));
    const char* texts[][2] = {{"Comment", "5 \xe2\x82\xac, \xe6\x97\xa5\xe6\x9c\xac"},
                              {"Empty", ""},
                              {"  spaced   key ", "squeezed"},
                              {"Pr\u00e9fix \u20ac", "key outside Latin-1"},
                              {"ctl\x01key", "control character"}};
    for (const auto& t : texts)
        img.setText(QString::fromUtf8(t[0]), QString::fromUtf8(t[1]));
    img.setText("Nul", QString("before") + QChar(0) + QString("after"));
    img.setText("Long", QString(300, 'x'));
    // Cut to 79 characters before the blanks are squeezed out.
    img.setText(QString(10, ' ') + QString(100, 'L'), "cut, then squeezed");
    for (int quality : {100, 0})
        EXPECT_TRUE(matchesQt(img, quality)) << quality;
    // Qt's writer refuses an image with a key without a keyword; the encoder drops the entry.
    QImage clean = img;
    img.setText("   ", "blank key");
    img.setText("\x01\x02", "control key");
    EXPECT_TRUE(decodeAlike(encoded(img, 100, true), encoded(clean, 100, false)));
}

// A device that takes `room` bytes and then refuses, like a disk that fills up.
class FillingDevice : public QIODevice {
public:
    explicit FillingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }
    qint64 written = 0;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        const qint64 n = std::min(len, m_room - written);
        if (n <= 0)
            setErrorString(QStringLiteral("No space left on device"));
        written += std::max<qint64>(n, 0);
        return n <= 0 ? -1 : n;
    }

private:
    qint64 m_room;
};

TEST(PngEncode, FailuresOfTheDeviceAreReported) {
    QImage img = noise(700, 500, QImage::Format_ARGB32_Premultiplied, 13);
    img.setText(QStringLiteral("Title"), QStringLiteral("full disk"));
    for (int quality : {100, 50}) {
        const qint64 whole = encoded(img, quality, true).size();
        // Cut in the signature, the header chunks, the pixels, just before IEND, and not at all.
        for (qint64 room : {qint64(0), qint64(5), qint64(40), qint64(70000), whole - 12, whole}) {
            FillingDevice dev(room);
            QString error;
            EXPECT_EQ(png::encodePng(img, &dev, quality, &error), room == whole) << room;
            EXPECT_EQ(error, room == whole ? QString() : "No space left on device") << room;
            EXPECT_EQ(dev.written, room) << "what fits is written";
        }
    }
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_FALSE(png::encodePng(QImage(), &buf, 100, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(buf.data().isEmpty());
}

TEST(PngFile, DecodesAsQtsWouldAndReplacesTheOldOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    QImage second = noise(1201, 903, QImage::Format_ARGB32_Premultiplied, 16);
    second.setColorSpace(QColorSpace::SRgb);
    QString error;
    ASSERT_TRUE(png::writePng(noise(64, 48, QImage::Format_ARGB32, 15), path, 100, &error));
    for (int quality : {100, 50}) {
        ASSERT_TRUE(png::writePng(second, path, quality, &error)) << error.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(decodeAlike(f.readAll(), encoded(second, quality, false))) << quality;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("shot.png")});
}

}  // namespace
