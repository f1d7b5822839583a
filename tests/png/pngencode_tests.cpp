// The PNG encoder: what its files decode to, checked against what Qt's own PNG writer's files
// decode to, plus the stream's structure and the failures it reports.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>
#include <vector>

#include "png/pngencode.h"
#include "png/pngfile.h"
#include "qt_printers.h"

namespace {

QByteArray qtPng(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QImageWriter writer(&buf, "png");
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

QByteArray ourPng(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_TRUE(png::encodePng(image, &buf, quality, &error)) << error.toStdString();
    return bytes;
}

// Both streams decode to the same format, pixels, colour space, resolution, offset and texts.
::testing::AssertionResult decodeAlike(const QByteArray& ours, const QByteArray& qts) {
    const QImage got = QImage::fromData(ours, "PNG");
    const QImage want = QImage::fromData(qts, "PNG");
    if (want.isNull())
        return ::testing::AssertionFailure() << "Qt's own file does not decode";
    if (got.isNull())
        return ::testing::AssertionFailure() << "our file does not decode";
    if (got.format() != want.format() || got.size() != want.size()) {
        return ::testing::AssertionFailure()
               << "format " << int(got.format()) << " " << got.width() << "x" << got.height()
               << ", expected format " << int(want.format()) << " " << want.width() << "x"
               << want.height();
    }
    const size_t rowBytes = size_t(got.width()) * size_t(got.depth() / 8);
    for (int y = 0; y < got.height(); ++y) {
        const uchar* g = got.constScanLine(y);
        const uchar* w = want.constScanLine(y);
        if (memcmp(g, w, rowBytes) != 0) {
            size_t i = 0;
            while (g[i] == w[i])
                ++i;
            return ::testing::AssertionFailure() << "row " << y << " differs at byte " << i << ": "
                                                 << int(g[i]) << " vs " << int(w[i]);
        }
    }
    if (got.colorSpace() != want.colorSpace() ||
        got.colorSpace().iccProfile() != want.colorSpace().iccProfile() ||
        got.colorSpace().description() != want.colorSpace().description())
        return ::testing::AssertionFailure() << "colour space differs";
    if (got.dotsPerMeterX() != want.dotsPerMeterX() ||
        got.dotsPerMeterY() != want.dotsPerMeterY()) {
        return ::testing::AssertionFailure()
               << "dots per meter " << got.dotsPerMeterX() << "," << got.dotsPerMeterY()
               << ", expected " << want.dotsPerMeterX() << "," << want.dotsPerMeterY();
    }
    if (got.offset() != want.offset())
        return ::testing::AssertionFailure() << "offset differs";
    if (got.textKeys() != want.textKeys()) {
        return ::testing::AssertionFailure()
               << "text keys " << got.textKeys().join('|').toStdString() << ", expected "
               << want.textKeys().join('|').toStdString();
    }
    for (const QString& key : want.textKeys()) {
        if (got.text(key) != want.text(key)) {
            return ::testing::AssertionFailure()
                   << "text " << key.toStdString() << " = " << got.text(key).toStdString()
                   << ", expected " << want.text(key).toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult matchesQt(const QImage& image, int quality) {
    return decodeAlike(ourPng(image, quality), qtPng(image, quality));
}

// Noise in the given format; premultiplied pixels are valid (no channel above alpha), with
// alpha 0 and 255 frequent as in a composite.
QImage noise(int w, int h, QImage::Format format, quint32 seed) {
    QImage img(w, h, format);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 v = rng.generate();
            quint32 a = v >> 24;
            if ((v & 3) == 0)
                a = 255;
            else if ((v & 3) == 1)
                a = 0;
            if (format == QImage::Format_ARGB32_Premultiplied) {
                const quint32 r = rng.bounded(a + 1), g = rng.bounded(a + 1),
                              b = rng.bounded(a + 1);
                row[x] = qRgba(int(r), int(g), int(b), int(a));
            } else {
                row[x] = (v & 0xffffffu) | (a << 24);
            }
        }
    }
    return img;
}

struct Chunk {
    QByteArray type;
    QByteArray data;
};

// Splits a PNG stream into chunks, failing on a bad signature, length or CRC.
::testing::AssertionResult parseChunks(const QByteArray& png, std::vector<Chunk>* chunks) {
    if (!png.startsWith("\x89PNG\r\n\x1a\n"))
        return ::testing::AssertionFailure() << "no PNG signature";
    const auto* p = reinterpret_cast<const uchar*>(png.constData());
    qsizetype at = 8;
    while (at < png.size()) {
        if (png.size() - at < 12)
            return ::testing::AssertionFailure() << "truncated chunk at " << at;
        const quint32 len = qFromBigEndian<quint32>(p + at);
        if (png.size() - at - 12 < qsizetype(len))
            return ::testing::AssertionFailure() << "chunk at " << at << " runs past the end";
        const quint32 crc = qFromBigEndian<quint32>(p + at + 8 + len);
        if (libdeflate_crc32(0, p + at + 4, len + 4) != crc)
            return ::testing::AssertionFailure() << "bad CRC in chunk at " << at;
        chunks->push_back({png.mid(at + 4, 4), png.mid(at + 8, len)});
        at += 12 + len;
    }
    if (chunks->empty() || chunks->back().type != "IEND")
        return ::testing::AssertionFailure() << "no IEND at the end";
    return ::testing::AssertionSuccess();
}

// The IDAT data as one zlib stream: it must end exactly at the end of the last IDAT, with a
// good Adler-32, and inflate to one filter byte plus `bpp` bytes per pixel for every row.
::testing::AssertionResult wellFormedPixels(const std::vector<Chunk>& chunks, int w, int h,
                                            int bpp) {
    QByteArray z;
    for (const Chunk& c : chunks) {
        if (c.type == "IDAT")
            z += c.data;
    }
    const size_t expected = size_t(h) * (1 + size_t(w) * size_t(bpp));
    std::vector<uchar> raw(expected + 1);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    size_t in = 0, out = 0;
    const libdeflate_result r = libdeflate_zlib_decompress_ex(d, z.constData(), size_t(z.size()),
                                                              raw.data(), raw.size(), &in, &out);
    libdeflate_free_decompressor(d);
    if (r != LIBDEFLATE_SUCCESS)
        return ::testing::AssertionFailure() << "zlib stream does not inflate: " << int(r);
    if (in != size_t(z.size()))
        return ::testing::AssertionFailure() << (z.size() - qsizetype(in)) << " bytes after it";
    if (out != expected)
        return ::testing::AssertionFailure() << out << " bytes inflated, expected " << expected;
    return ::testing::AssertionSuccess();
}

int countChunks(const std::vector<Chunk>& chunks, const char* type) {
    int n = 0;
    for (const Chunk& c : chunks)
        n += c.type == type ? 1 : 0;
    return n;
}

// ----------------------------------------------------------------------------------------------
// Pixels

TEST(PngEncodePixels, MatchQtForEachFormatSizeAndQuality) {
    const QImage::Format formats[] = {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_RGB32};
    const QSize sizes[] = {{1, 1}, {1, 7}, {3, 5}, {7, 3}, {17, 9}, {333, 41}};
    quint32 seed = 1;
    for (QImage::Format format : formats) {
        for (const QSize& size : sizes) {
            const QImage img = noise(size.width(), size.height(), format, seed++);
            for (int quality : {100, 95, 89, 50, 0, -1}) {
                EXPECT_TRUE(matchesQt(img, quality))
                    << "format " << int(format) << ", " << size.width() << "x" << size.height()
                    << ", quality " << quality;
            }
        }
    }
}

TEST(PngEncodePixels, EveryPremultipliedAlphaAndValuePairMatchesQt) {
    // x is the value, y the alpha; the three channels take it in different arrangements so a
    // channel mix-up shows. Values above alpha are not valid premultiplied pixels but images
    // can hold them, and Qt converts them somehow: that has to match too.
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    for (int a = 0; a < 256; ++a) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(a));
        for (int v = 0; v < 256; ++v)
            row[v] = qRgba(v, v ^ 0x55, 255 - v, a);
    }
    for (int quality : {100, 50, 0})
        EXPECT_TRUE(matchesQt(img, quality)) << "quality " << quality;

    // And with the pairs at every offset within a row (odd width, so SIMD tails and alignment
    // differ from row to row).
    QImage shifted(257, 256, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 256; ++y) {
        auto* row = reinterpret_cast<QRgb*>(shifted.scanLine(y));
        for (int x = 0; x < 257; ++x) {
            const int a = (x + y) & 255;
            row[x] = qRgba(x & 255, y, (x * 7) & 255, a);
        }
    }
    EXPECT_TRUE(matchesQt(shifted, 100));
}

TEST(PngEncodePixels, LargeImagesSpanManyBlocksBandsAndLongRows) {
    struct Case {
        int w, h;
        QImage::Format format;
        int bpp;
    };
    const Case cases[] = {
        // 11 to 15 MB of pixels: three bands or more, hundreds of stored blocks, a short last
        // unit.
        {2101, 1801, QImage::Format_ARGB32_Premultiplied, 4},
        {2101, 1801, QImage::Format_RGB32, 3},
        // Rows longer than a stored block, split over several blocks.
        {23001, 5, QImage::Format_ARGB32, 4},
        {23001, 5, QImage::Format_ARGB32_Premultiplied, 4},
        {23001, 5, QImage::Format_RGB32, 3},
    };
    quint32 seed = 100;
    for (const Case& c : cases) {
        const QImage img = noise(c.w, c.h, c.format, seed++);
        for (int quality : {100, 50}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << int(c.format)
                                            << " quality " << quality);
            const QByteArray ours = ourPng(img, quality);
            std::vector<Chunk> chunks;
            ASSERT_TRUE(parseChunks(ours, &chunks));
            EXPECT_TRUE(wellFormedPixels(chunks, c.w, c.h, c.bpp));
            if (quality == 100 && c.h > 1000) {
                EXPECT_GE(countChunks(chunks, "IDAT"), 3) << "the image spans several bands";
            }
            EXPECT_TRUE(decodeAlike(ours, qtPng(img, quality)));
        }
    }
}

TEST(PngEncodePixels, OtherFormatsAreWrittenByQt) {
    const QImage argb = noise(37, 11, QImage::Format_ARGB32, 5);
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_Grayscale8,
                                  QImage::Format_Indexed8, QImage::Format_RGBA64_Premultiplied}) {
        const QImage img = argb.convertToFormat(format);
        EXPECT_EQ(ourPng(img, 100), qtPng(img, 100)) << "format " << int(format);
    }
}

// ----------------------------------------------------------------------------------------------
// Metadata

TEST(PngEncodeMetadata, ColourSpacesMatchQt) {
    QImage img = noise(9, 4, QImage::Format_ARGB32_Premultiplied, 9);
    QColorSpace custom(QColorSpace::Primaries::AdobeRgb, 1.8f);
    custom.setDescription(QStringLiteral("Studio monitor"));
    QColorSpace oddName(QColorSpace::Primaries::DciP3D65, QColorSpace::TransferFunction::SRgb);
    // Spaces that libpng would have to squeeze, and a character outside Latin-1.
    oddName.setDescription(QString::fromUtf8("  wide  gamut \xe2\x82\xac "));
    QColorSpace unnamed(QColorSpace::Primaries::ProPhotoRgb, 2.2f);
    unnamed.setDescription(QString());
    QColorSpace longName = QColorSpace::DisplayP3;
    longName.setDescription(QString(120, QLatin1Char('p')));
    const QColorSpace spaces[] = {QColorSpace(QColorSpace::SRgb),
                                  QColorSpace(QColorSpace::DisplayP3),
                                  QColorSpace(QColorSpace::SRgbLinear),
                                  custom,
                                  oddName,
                                  unnamed,
                                  longName,
                                  QColorSpace()};
    for (const QColorSpace& cs : spaces) {
        img.setColorSpace(cs);
        for (int quality : {100, 50}) {
            EXPECT_TRUE(matchesQt(img, quality))
                << cs.description().toStdString() << " quality " << quality;
        }
        if (cs.isValid()) {
            EXPECT_EQ(QImage::fromData(ourPng(img, 100)).colorSpace(), cs)
                << cs.description().toStdString();
        }
    }
}

TEST(PngEncodeMetadata, ResolutionAndOffsetMatchQt) {
    QImage img = noise(5, 3, QImage::Format_RGB32, 10);
    const QPair<int, int> dpms[] = {{3780, 3780}, {1, 1}, {11811, 2000}, {-5, 3780}};
    for (const auto& [x, y] : dpms) {
        img.setDotsPerMeterX(x);
        img.setDotsPerMeterY(y);
        EXPECT_TRUE(matchesQt(img, 100)) << x << "," << y;
    }
    for (const QPoint offset : {QPoint(0, 0), QPoint(12, 0), QPoint(-40, 7)}) {
        img.setOffset(offset);
        EXPECT_TRUE(matchesQt(img, 100)) << offset.x() << "," << offset.y();
    }
}

TEST(PngEncodeMetadata, TextsMatchQt) {
    QImage img = noise(4, 4, QImage::Format_ARGB32, 11);
    img.setText(QStringLiteral("Title"), QStringLiteral("Studio day 1"));
    img.setText(QStringLiteral("Author"), QString::fromUtf8("Ren\xc3\xa9"
                                                            "e M\xc3\xbc"
                                                            "ller"));
    img.setText(QStringLiteral("Comment"),
                QString::fromUtf8("5 \xe2\x82\xac, \xe6\x97\xa5\xe6\x9c\xac"));
    img.setText(QStringLiteral("Tabs"), QStringLiteral("a\tb\nc"));
    img.setText(QStringLiteral("Nul"),
                QStringLiteral("before") + QChar(0) + QStringLiteral("after"));
    img.setText(QStringLiteral("Empty"), QString());
    img.setText(QStringLiteral("Long"), QString(300, QLatin1Char('x')));
    img.setText(QString(100, QLatin1Char('K')), QStringLiteral("key cut to 79"));
    // Cut to 79 characters before the blanks are squeezed out: 69 L's are left.
    img.setText(QString(10, QLatin1Char(' ')) + QString(100, QLatin1Char('L')),
                QStringLiteral("cut, then squeezed"));
    img.setText(QStringLiteral("  spaced   key "), QStringLiteral("squeezed"));
    img.setText(QStringLiteral("spaced key"), QStringLiteral("same keyword as the one above"));
    img.setText(QString::fromUtf8("Pr\xc3\xa9"
                                  "fix \xe2\x82\xac"),
                QStringLiteral("key outside Latin-1"));
    img.setText(QStringLiteral("ctl\x01key"), QStringLiteral("control character in the key"));
    img.setText(QString::fromUtf8("\xc2\x85"
                                  "C1"),
                QString::fromUtf8("C1 control \xc2\x85 value"));
    for (int quality : {100, 0})
        EXPECT_TRUE(matchesQt(img, quality)) << "quality " << quality;
    const QImage back = QImage::fromData(ourPng(img, 100));
    EXPECT_EQ(back.text(QStringLiteral("Comment")),
              QString::fromUtf8("5 \xe2\x82\xac, \xe6\x97\xa5\xe6\x9c\xac"));
    EXPECT_EQ(back.text(QStringLiteral("Author")), QString::fromUtf8("Ren\xc3\xa9"
                                                                     "e M\xc3\xbc"
                                                                     "ller"));
}

TEST(PngEncodeMetadata, KeyWithoutAKeywordIsLeftOutInsteadOfFailing) {
    // Qt's writer refuses the whole image for such a key; the encoder drops just the entry.
    QImage img = noise(4, 4, QImage::Format_ARGB32_Premultiplied, 12);
    img.setText(QStringLiteral("   "), QStringLiteral("blank key"));
    img.setText(QStringLiteral("\x01\x02"), QStringLiteral("control key"));
    img.setText(QStringLiteral("Kept"), QStringLiteral("yes"));
    const QImage back = QImage::fromData(ourPng(img, 100));
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.textKeys(), QStringList{QStringLiteral("Kept")});
    QImage clean = noise(4, 4, QImage::Format_ARGB32_Premultiplied, 12);
    clean.setText(QStringLiteral("Kept"), QStringLiteral("yes"));
    EXPECT_TRUE(decodeAlike(ourPng(img, 100), qtPng(clean, 100)));
}

// ----------------------------------------------------------------------------------------------
// Failures

// A device that takes `room` bytes and then refuses, like a disk that fills up.
class FillingDevice : public QIODevice {
public:
    explicit FillingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }
    qint64 written() const { return m_written; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        const qint64 n = std::min(len, m_room - m_written);
        if (n <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += n;
        return n;
    }

private:
    qint64 m_room;
    qint64 m_written = 0;
};

TEST(PngEncodeFailure, AFullDeviceGivesFalseAndItsError) {
    QImage img = noise(700, 500, QImage::Format_ARGB32_Premultiplied, 13);
    img.setText(QStringLiteral("Title"), QStringLiteral("full disk"));
    for (int quality : {100, 50}) {
        const qint64 whole = ourPng(img, quality).size();
        // Cut in the signature, the header chunks, the pixels, and just before IEND.
        for (qint64 room :
             {qint64(0), qint64(5), qint64(40), qint64(70000), whole / 2, whole - 12}) {
            FillingDevice dev(room);
            QString error;
            EXPECT_FALSE(png::encodePng(img, &dev, quality, &error))
                << "room " << room << " quality " << quality;
            EXPECT_EQ(error, QStringLiteral("No space left on device")) << "room " << room;
            EXPECT_EQ(dev.written(), room) << "what fits is written";
        }
        FillingDevice roomy(whole);
        EXPECT_TRUE(png::encodePng(img, &roomy, quality, nullptr));
        EXPECT_EQ(roomy.written(), whole);
    }
}

TEST(PngEncodeFailure, DevFullGivesFalseWithTheSystemsReason) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    const QImage img = noise(300, 200, QImage::Format_ARGB32_Premultiplied, 14);
    for (int quality : {100, 0}) {
        QFile full(QStringLiteral("/dev/full"));
        ASSERT_TRUE(full.open(QIODevice::WriteOnly));
        QString error;
        EXPECT_FALSE(png::encodePng(img, &full, quality, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(error, full.errorString());
    }
}

TEST(PngEncodeFailure, NullImageIsRefused) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_FALSE(png::encodePng(QImage(), &buf, 100, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(bytes.isEmpty());
}

// ----------------------------------------------------------------------------------------------
// The file a composite is saved to

TEST(WritePng, FileDecodesAsQtsWouldAndReplacesTheOldOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    QImage first = noise(64, 48, QImage::Format_ARGB32_Premultiplied, 15);
    QImage second = noise(1201, 903, QImage::Format_ARGB32_Premultiplied, 16);
    second.setColorSpace(QColorSpace::SRgb);
    second.setText(QStringLiteral("Software"), QStringLiteral("Mattora"));
    QString error;
    ASSERT_TRUE(png::writePng(first, path, 100, &error)) << error.toStdString();
    for (int quality : {100, 50}) {
        ASSERT_TRUE(png::writePng(second, path, quality, &error)) << error.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(decodeAlike(f.readAll(), qtPng(second, quality))) << "quality " << quality;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("shot.png")});
}

}  // namespace
