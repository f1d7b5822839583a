#include "formats/tiffencode.h"

#include <libdeflate.h>

#include <QColorSpace>
#include <QtEndian>
#include <cmath>
#include <vector>

#include "core/rows.h"
#include "formats/exifblock.h"
#include "formats/tiffifd.h"

namespace formats {

namespace {

// Raw bytes per strip: large enough that compression sees runs, small enough to cut the image
// into many pieces of parallel work.
constexpr qint64 kStripBytes = 256 * 1024;
// Strips compressed before any is written: bounds the compressed bytes held at once.
constexpr int kStripsPerGroup = 64;
// libdeflate's fastest level: on a 24-megapixel composite a quarter larger than level 6, in a
// third of the time.
constexpr int kLevel = 1;

constexpr quint16 kNewSubfileType = 254, kImageDescription = 270, kWidth = 256, kHeight = 257,
                  kBitsPerSample = 258, kCompression = 259, kPhotometric = 262, kStripOffsets = 273,
                  kSamplesPerPixel = 277, kRowsPerStrip = 278, kStripByteCounts = 279,
                  kXResolution = 282, kYResolution = 283, kPlanarConfig = 284,
                  kResolutionUnit = 296, kPredictor = 317, kExtraSamples = 338, kIccProfile = 34675,
                  kExifIfd = 34665;
constexpr quint16 kAdobeDeflate = 8, kRgb = 2, kChunky = 1, kInch = 2, kHorizontal = 2,
                  kUnassociatedAlpha = 2;

// Rows [y0, y0 + n) as straight R, G, B, A bytes, differenced along each row as the
// horizontal predictor has it, deflated into a zlib stream. Empty when out of memory.
QByteArray strip(const QImage& image, int y0, int n, libdeflate_compressor* c) {
    QImage rows = image.copy(0, y0, image.width(), n).convertToFormat(QImage::Format_RGBA8888);
    if (rows.isNull())
        return QByteArray();
    const qsizetype rowBytes = qsizetype(image.width()) * 4;
    for (int y = 0; y < n; ++y) {
        uchar* p = rows.scanLine(y);
        for (qsizetype i = rowBytes - 1; i >= 4; --i)
            p[i] = uchar(p[i] - p[i - 4]);
    }
    QByteArray packed(qsizetype(libdeflate_zlib_compress_bound(c, size_t(rowBytes) * n)),
                      Qt::Uninitialized);
    // The rows of a QImage are 4-byte aligned, so RGBA rows lie back to back.
    const size_t size = libdeflate_zlib_compress(c, rows.constBits(), size_t(rowBytes) * n,
                                                 packed.data(), size_t(packed.size()));
    packed.truncate(qsizetype(size));
    return packed;
}

bool writeAll(QIODevice* out, const QByteArray& bytes, QString* error) {
    if (out->write(bytes) == bytes.size())
        return true;
    *error = out->errorString();
    return false;
}

}  // namespace

bool encodeTiff(const QImage& image, const CameraInfo& camera, QIODevice* out, QString* error) {
    QString why;
    if (!error)
        error = &why;
    if (image.isNull()) {
        *error = QStringLiteral("The image is empty.");
        return false;
    }
    if (out->isSequential()) {
        *error = QStringLiteral("A TIFF file cannot be written to a stream.");
        return false;
    }
    const int w = image.width(), h = image.height();
    const int rowsPerStrip = int(std::clamp<qint64>(kStripBytes / (qint64(w) * 4), 1, h));
    const int strips = (h + rowsPerStrip - 1) / rowsPerStrip;
    const qint64 start = out->pos();
    if (!writeAll(out, QByteArray("II*\0\0\0\0\0", 8), error))
        return false;

    QList<quint32> offsets, counts;
    qint64 at = 8;
    for (int g = 0; g < strips; g += kStripsPerGroup) {
        const int n = std::min(kStripsPerGroup, strips - g);
        std::vector<QByteArray> packed(static_cast<size_t>(n));
        std::vector<char> failed(static_cast<size_t>(n), 0);
        core::runBands(
            core::rowBands(n, qint64(w) * rowsPerStrip), [&](size_t, const core::RowBand& b) {
                libdeflate_compressor* c = libdeflate_alloc_compressor(kLevel);
                for (int i = b.first; i < b.last; ++i) {
                    const int y0 = (g + i) * rowsPerStrip;
                    packed[size_t(i)] =
                        c ? strip(image, y0, std::min(rowsPerStrip, h - y0), c) : QByteArray();
                    failed[size_t(i)] = packed[size_t(i)].isEmpty();
                }
                libdeflate_free_compressor(c);
            });
        for (int i = 0; i < n; ++i) {
            if (failed[size_t(i)]) {
                *error = QStringLiteral("Not enough memory to encode the image.");
                return false;
            }
            offsets << quint32(at);
            counts << quint32(packed[size_t(i)].size());
            at += packed[size_t(i)].size();
            if (at > 0xFFFF0000LL) {
                *error = QStringLiteral("The image is too large for a TIFF file (4 GB).");
                return false;
            }
            if (!writeAll(out, packed[size_t(i)], error))
                return false;
        }
    }
    if (at & 1) {
        if (!writeAll(out, QByteArray(1, '\0'), error))
            return false;
        ++at;
    }

    // 72 dpi unless the image says otherwise.
    QList<TiffEntry> ifd = {
        longEntry(kNewSubfileType, {0}),
        longEntry(kWidth, {quint32(w)}),
        longEntry(kHeight, {quint32(h)}),
        shortEntry(kBitsPerSample, {8, 8, 8, 8}),
        shortEntry(kCompression, {kAdobeDeflate}),
        shortEntry(kPhotometric, {kRgb}),
        longEntry(kStripOffsets, offsets),
        shortEntry(kSamplesPerPixel, {4}),
        longEntry(kRowsPerStrip, {quint32(rowsPerStrip)}),
        longEntry(kStripByteCounts, counts),
        rationalEntry(kXResolution, quint32(dotsPerInch(image.dotsPerMeterX())), 1),
        rationalEntry(kYResolution, quint32(dotsPerInch(image.dotsPerMeterY())), 1),
        shortEntry(kPlanarConfig, {kChunky}),
        shortEntry(kResolutionUnit, {kInch}),
        shortEntry(kPredictor, {kHorizontal}),
        shortEntry(kExtraSamples, {kUnassociatedAlpha}),
    };
    ifd << cameraEntries(camera);
    // The image's text entries (the photo a result was made from, say), "key: value" a line, as
    // the description: the one free text field every TIFF reader shows.
    QByteArray description;
    for (const QString& key : image.textKeys())
        if (!key.isEmpty() && !key.contains(QLatin1Char('\n')))
            description +=
                (key + QStringLiteral(": ") + image.text(key).remove(QLatin1Char('\n'))).toUtf8() +
                '\n';
    if (!description.isEmpty())
        ifd << asciiEntry(kImageDescription, description.replace('\0', ' '));
    const QColorSpace cs = image.colorSpace();
    if (cs.isValid())
        ifd << undefinedEntry(kIccProfile, cs.iccProfile());
    const ExifImage described = exifImageOf(image, false, false);
    if (!camera.isEmpty())
        ifd << longEntry(kExifIfd, {0});
    const quint32 exifAt = quint32(at) + ifdSize(ifd);
    if (!camera.isEmpty())
        ifd.last() = longEntry(kExifIfd, {exifAt});
    QByteArray first(4, Qt::Uninitialized);
    qToLittleEndian(quint32(at), first.data());
    return writeAll(out, ifdBytes(ifd, quint32(at)) + exifIfd(camera, described, exifAt), error) &&
           out->seek(start + 4) && writeAll(out, first, error);
}

}  // namespace formats
