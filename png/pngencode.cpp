#include "png/pngencode.h"

#include "core/rows.h"

#include <libdeflate.h>

#include <QColorSpace>
#include <QFileDevice>
#include <QImageWriter>
#include <QMap>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentMap>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace png {
namespace {

// Filtered bytes per band at quality 100; each band is one IDAT chunk, written as soon as it is
// done, so memory stays at two bands whatever the image size.
constexpr qsizetype kBandBytes = qsizetype(2) << 20;
// Source rows converted at a time: small enough to stay in cache between conversion and swizzle.
constexpr qsizetype kChunkBytes = qsizetype(256) << 10;
// The largest payload of a stored deflate block.
constexpr qsizetype kStoredMax = 65535;

void putBe32(uchar* p, quint32 v) {
    qToBigEndian(v, p);
}

QString outOfMemory() {
    return QStringLiteral("Not enough memory to encode the image.");
}

// ----------------------------------------------------------------------------------------------
// Pixels

// Straight 0xAARRGGBB words to the PNG's R, G, B, A bytes.
void toRgba(const uchar* src, uchar* dst, int n) {
    for (int i = 0; i < n; ++i) {
        quint32 v;
        memcpy(&v, src + 4 * qsizetype(i), 4);
        const quint32 o =
            ((v >> 16) & 0xffu) | (v & 0xff00u) | ((v & 0xffu) << 16) | (v & 0xff000000u);
        qToLittleEndian(o, dst + 4 * qsizetype(i));
    }
}

// 0xffRRGGBB words to R, G, B bytes. Byte shuffles need SSSE3 to vectorise; on the baseline
// x86-64 target this runs scalar, which still keeps up with the memory traffic.
void toRgb(const uchar* src, uchar* dst, int n) {
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "pixel words are read as B, G, R, A bytes");
    for (int i = 0; i < n; ++i) {
        dst[3 * qsizetype(i)] = src[4 * qsizetype(i) + 2];
        dst[3 * qsizetype(i) + 1] = src[4 * qsizetype(i) + 1];
        dst[3 * qsizetype(i) + 2] = src[4 * qsizetype(i)];
    }
}

// The image's rows as straight 32-bit pixels, loaded a chunk of rows at a time: its own scan
// lines, or, for a premultiplied image, Qt's own conversion of those rows to Format_ARGB32. Qt's
// writer converts premultiplied rows with that same conversion, so the rounding is Qt's. The
// rows are copied into one buffer that is converted in place and reused, as a fresh
// allocation per chunk would cost more in page faults than the conversion itself.
class StraightRows {
public:
    StraightRows(const QImage& image, int maxRows)
        : m_image(&image),
          m_premultiplied(image.format() == QImage::Format_ARGB32_Premultiplied),
          m_maxRows(maxRows) {}

    // Makes rows [y, y + n) available, n <= maxRows; false when there was no memory for them.
    bool load(int y, int n) {
        if (!m_premultiplied)
            return true;
        if (m_work.isNull()) {
            m_work = QImage(m_image->width(), m_maxRows, QImage::Format_ARGB32_Premultiplied);
            if (m_work.isNull())
                return false;
        }
        m_work.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        const size_t rowBytes = size_t(m_image->width()) * 4;
        for (int i = 0; i < n; ++i)
            memcpy(m_work.scanLine(i), m_image->constScanLine(y + i), rowBytes);
        m_work.convertTo(QImage::Format_ARGB32);
        m_y = y;
        return m_work.format() == QImage::Format_ARGB32;
    }
    const uchar* row(int y) const {
        return m_premultiplied ? m_work.constScanLine(y - m_y) : m_image->constScanLine(y);
    }

private:
    const QImage* m_image;
    bool m_premultiplied;
    int m_maxRows;
    QImage m_work;
    int m_y = 0;
};

// Rows per conversion chunk for rows of `width` pixels.
int chunkRows(int width) {
    return int(std::max<qsizetype>(1, kChunkBytes / (qsizetype(width) * 4)));
}

// ----------------------------------------------------------------------------------------------
// Chunks and metadata

class Sink {
public:
    explicit Sink(QIODevice* out) : m_out(out) {}

    // A short write is tried again with the rest: a file on a full disk takes what fits, and
    // only the next attempt fails with the system's reason.
    bool write(const uchar* data, qsizetype size) {
        while (size > 0) {
            const qint64 n = m_out->write(reinterpret_cast<const char*>(data), size);
            if (n <= 0) {
                m_error = m_out->errorString();
                return false;
            }
            data += n;
            size -= n;
        }
        return true;
    }
    bool chunk(const char* type, const QByteArray& data) {
        QByteArray c(8 + data.size() + 4, Qt::Uninitialized);
        auto* p = reinterpret_cast<uchar*>(c.data());
        putBe32(p, quint32(data.size()));
        memcpy(p + 4, type, 4);
        memcpy(p + 8, data.constData(), size_t(data.size()));
        putBe32(p + 8 + data.size(), libdeflate_crc32(0, p + 4, size_t(data.size()) + 4));
        return write(p, c.size());
    }
    const QString& error() const { return m_error; }

private:
    QIODevice* m_out;
    QString m_error;
};

QByteArray be32(quint32 v) {
    QByteArray b(4, Qt::Uninitialized);
    putBe32(reinterpret_cast<uchar*>(b.data()), v);
    return b;
}

// libpng's keyword rule, which everything Qt's writer names goes through: printable Latin-1
// only, anything else turned into a space, no leading, trailing or double spaces, at most 79
// bytes, ending at a NUL.
QByteArray pngKeyword(const QByteArray& latin1) {
    QByteArray key;
    bool space = true;
    for (const char c : latin1) {
        const auto ch = uchar(c);
        if (ch == 0 || key.size() >= 79)
            break;
        if ((ch > 32 && ch <= 126) || ch >= 161) {
            key += c;
            space = false;
        } else if (!space) {
            key += ' ';
            space = true;
        }
    }
    if (!key.isEmpty() && space)
        key.chop(1);
    return key;
}

QByteArray upToNul(QByteArray bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

QByteArray zlibCompress(const QByteArray& data) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    if (!c)
        return QByteArray();
    QByteArray out(qsizetype(libdeflate_zlib_compress_bound(c, size_t(data.size()))),
                   Qt::Uninitialized);
    const size_t n =
        libdeflate_zlib_compress(c, data.constData(), size_t(data.size()), out.data(), out.size());
    libdeflate_free_compressor(c);
    out.truncate(qsizetype(n));
    return out;
}

// IHDR and the chunks Qt's writer puts before the pixels, in its order: iCCP (or sRGB), oFFs,
// pHYs, then the texts.
bool writeHeader(const QImage& image, bool alpha, const QByteArray& exif, Sink& sink,
                 QString* error) {
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!sink.write(signature, 8))
        return false;

    QByteArray ihdr = be32(quint32(image.width())) + be32(quint32(image.height()));
    ihdr += char(8);              // bits per channel
    ihdr += char(alpha ? 6 : 2);  // RGBA or RGB
    ihdr += QByteArray(3, '\0');  // deflate, adaptive filtering, no interlace
    if (!sink.chunk("IHDR", ihdr))
        return false;

    const QColorSpace cs = image.colorSpace();
    // sRGB has a chunk of its own that every viewer knows, in 13 bytes for 3 KB of profile.
    const bool srgb = cs.isValid() && cs == QColorSpace(QColorSpace::SRgb);
    if (srgb && !sink.chunk("sRGB", QByteArray(1, '\0')))  // rendering intent: perceptual
        return false;
    const QByteArray profile = cs.isValid() && !srgb ? cs.iccProfile() : QByteArray();
    if (!profile.isEmpty()) {
        QByteArray name = pngKeyword(cs.description().toLatin1());
        if (name.isEmpty())
            name = QByteArrayLiteral("Custom");
        const QByteArray packed = zlibCompress(profile);
        if (packed.isEmpty()) {
            if (error)
                *error = outOfMemory();
            return false;
        }
        if (!sink.chunk("iCCP", name + QByteArray(2, '\0') + packed))
            return false;
    }

    if (!exif.isEmpty() && !sink.chunk("eXIf", exif))
        return false;

    const QPoint offset = image.offset();
    if (offset.x() != 0 || offset.y() != 0) {
        if (!sink.chunk("oFFs", be32(quint32(offset.x())) + be32(quint32(offset.y())) + '\0'))
            return false;
    }

    if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0) {
        if (!sink.chunk("pHYs", be32(quint32(image.dotsPerMeterX())) +
                                    be32(quint32(image.dotsPerMeterY())) + char(1)))
            return false;
    }

    // Sorted by key and written in that order, as Qt does: when two keys come out as the same
    // keyword the reader keeps the later one.
    QMap<QString, QString> texts;
    for (const QString& key : image.textKeys()) {
        if (!key.isEmpty())
            texts.insert(key, image.text(key));
    }
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        const QByteArray keyword = pngKeyword(it.key().left(79).toLatin1());
        if (keyword.isEmpty())
            continue;
        // Qt's rule for when Latin-1 text will not do; its writer stops a value at a NUL.
        bool needsUtf8 = false;
        for (const QChar c : it.value()) {
            const uchar ch = c.cell();
            if (c.row() || (ch < 0x20 && ch != '\n') || (ch > 0x7e && ch < 0xa0)) {
                needsUtf8 = true;
                break;
            }
        }
        bool ok;
        if (needsUtf8) {
            ok = sink.chunk("iTXt", keyword + QByteArray(4, '\0') + upToNul(it.key().toUtf8()) +
                                        '\0' + upToNul(it.value().toUtf8()));
        } else {
            ok = sink.chunk("tEXt", keyword + '\0' + upToNul(it.value().toLatin1()));
        }
        if (!ok)
            return false;
    }
    return true;
}

// ----------------------------------------------------------------------------------------------
// Quality 100: stored deflate blocks

// Where everything goes in the zlib stream of stored blocks. Rows are grouped into "units" that
// are filled independently: as many whole rows as fit one block, or, for rows longer than a
// block, one row split over several blocks at pixel boundaries. So every pixel run lands in one
// piece of memory and is swizzled straight into place.
struct StoredLayout {
    int width = 0;
    int height = 0;
    int bpp = 0;
    qsizetype rowBytes = 0;  // filter byte and pixels
    int rowsPerUnit = 0;
    int firstPixels = 0;      // long rows: pixels in a row's first block, after the filter byte
    int morePixels = 0;       // and in each later block
    qsizetype unitBytes = 0;  // a full unit, block headers included
    int units = 0;
    int unitsPerBand = 0;

    StoredLayout(int w, int h, int bytesPerPixel) : width(w), height(h), bpp(bytesPerPixel) {
        rowBytes = 1 + qsizetype(w) * bpp;
        if (rowBytes <= kStoredMax) {
            rowsPerUnit = int(kStoredMax / rowBytes);
            unitBytes = 5 + rowsPerUnit * rowBytes;
        } else {
            rowsPerUnit = 1;
            firstPixels = int((kStoredMax - 1) / bpp);
            morePixels = int(kStoredMax / bpp);
            const qsizetype blocks = 1 + (w - firstPixels + morePixels - 1) / morePixels;
            unitBytes = rowBytes + 5 * blocks;
        }
        units = int((qsizetype(h) + rowsPerUnit - 1) / rowsPerUnit);
        unitsPerBand = int(std::max<qsizetype>(1, kBandBytes / unitBytes));
    }
    int bands() const { return (units + unitsPerBand - 1) / unitsPerBand; }
    int unitRows(int u) const { return std::min(rowsPerUnit, height - u * rowsPerUnit); }
    qsizetype unitSize(int u) const {
        return firstPixels == 0 ? 5 + unitRows(u) * rowBytes : unitBytes;
    }
    // Stored bytes of units [u0, u1); only the image's last unit can be short.
    qsizetype unitsSize(int u0, int u1) const {
        return (u1 - u0 - 1) * unitBytes + unitSize(u1 - 1);
    }
};

void storedHeader(uchar* p, bool final, qsizetype len) {
    p[0] = final ? 1 : 0;
    qToLittleEndian(quint16(len), p + 1);
    qToLittleEndian(quint16(~len), p + 3);
}

// Fills units [u0, u1) at `dst`.
bool fillUnits(const StoredLayout& l, const QImage& image, int u0, int u1, uchar* dst) {
    void (*const swizzle)(const uchar*, uchar*, int) = l.bpp == 4 ? toRgba : toRgb;
    const int unitsPerChunk = std::max(1, chunkRows(l.width) / l.rowsPerUnit);
    StraightRows src(image, unitsPerChunk * l.rowsPerUnit);
    const qsizetype pixelBytes = qsizetype(l.width) * l.bpp;
    for (int c = u0; c < u1; c += unitsPerChunk) {
        const int ce = std::min(u1, c + unitsPerChunk);
        const int y0 = c * l.rowsPerUnit;
        const int y1 = std::min(l.height, ce * l.rowsPerUnit);
        if (!src.load(y0, y1 - y0))
            return false;
        for (int u = c; u < ce; ++u) {
            const bool lastUnit = u + 1 == l.units;
            const int r0 = u * l.rowsPerUnit;
            const int r1 = r0 + l.unitRows(u);
            if (l.firstPixels == 0) {
                storedHeader(dst, lastUnit, (r1 - r0) * l.rowBytes);
                dst += 5;
                for (int y = r0; y < r1; ++y) {
                    *dst++ = 0;  // filter: none
                    swizzle(src.row(y), dst, l.width);
                    dst += pixelBytes;
                }
            } else {
                const uchar* row = src.row(r0);
                int x = 0;
                while (x < l.width) {
                    const bool first = x == 0;
                    const int n = std::min(first ? l.firstPixels : l.morePixels, l.width - x);
                    storedHeader(dst, lastUnit && x + n == l.width,
                                 qsizetype(n) * l.bpp + (first ? 1 : 0));
                    dst += 5;
                    if (first)
                        *dst++ = 0;
                    swizzle(row + 4 * qsizetype(x), dst, n);
                    dst += qsizetype(n) * l.bpp;
                    x += n;
                }
            }
        }
    }
    return true;
}

bool writeStored(const QImage& image, int bpp, Sink& sink, QString* error) {
    const StoredLayout l(image.width(), image.height(), bpp);
    const int bands = l.bands();
    // The same row rule as every other pixel loop, with units (groups of rows) as its rows.
    const qint64 unitPixels = qint64(l.rowsPerUnit) * l.width;
    const bool parallel = core::rowBands(l.units, unitPixels).size() > 1;

    // One band: chunk length and type, the zlib header (first band), the units, the Adler-32
    // (last band) and the chunk's CRC.
    struct Piece {
        int u0, u1;
        uchar* dst;
        bool ok;
    };
    struct Slot {
        std::unique_ptr<uchar[]> buf;
        std::vector<Piece> pieces;
        qsizetype size = 0;
    };
    const qsizetype capacity = 8 + 2 + l.unitsSize(0, std::min(l.units, l.unitsPerBand)) + 4 + 4;
    Slot bandBufs[2];
    for (int i = 0; i < std::min(2, bands); ++i) {
        bandBufs[i].buf.reset(new (std::nothrow) uchar[size_t(capacity)]);
        if (!bandBufs[i].buf) {
            if (error)
                *error = outOfMemory();
            return false;
        }
    }

    QFuture<void> pending;
    const auto waitPending = qScopeGuard([&] { pending.waitForFinished(); });
    auto fill = [&l, &image](Piece& p) { p.ok = fillUnits(l, image, p.u0, p.u1, p.dst); };
    auto start = [&](int b) {
        Slot& s = bandBufs[b % 2];
        const int u0 = b * l.unitsPerBand;
        const int u1 = std::min(l.units, u0 + l.unitsPerBand);
        uchar* units = s.buf.get() + 8 + (b == 0 ? 2 : 0);
        s.size = (units - s.buf.get()) + l.unitsSize(u0, u1) + (b + 1 == bands ? 4 : 0) + 4;
        s.pieces.clear();
        for (const core::RowBand& r : core::rowBands(u1 - u0, unitPixels)) {
            const int p0 = u0 + r.first;
            s.pieces.push_back({p0, u0 + r.last, units + (p0 - u0) * l.unitBytes, false});
        }
        if (parallel) {
            pending = QtConcurrent::map(s.pieces, fill);
        } else {
            for (Piece& p : s.pieces)
                fill(p);
        }
    };

    quint32 adler = 1;
    start(0);
    for (int b = 0; b < bands; ++b) {
        pending.waitForFinished();
        Slot& s = bandBufs[b % 2];
        for (const Piece& p : s.pieces) {
            if (!p.ok) {
                if (error)
                    *error = outOfMemory();
                return false;
            }
        }
        // The next band is converted while this one is checksummed and written.
        if (b + 1 < bands)
            start(b + 1);

        uchar* buf = s.buf.get();
        uchar* end = buf + s.size - 4;
        putBe32(buf, quint32(s.size - 12));
        memcpy(buf + 4, "IDAT", 4);
        uchar* p = buf + 8;
        if (b == 0) {
            *p++ = 0x78;  // deflate, 32K window
            *p++ = 0x01;  // no preset dictionary, "fastest" level, check bits
        }
        uchar* blocksEnd = b + 1 == bands ? end - 4 : end;
        while (p < blocksEnd) {
            const size_t len = qFromLittleEndian<quint16>(p + 1);
            adler = libdeflate_adler32(adler, p + 5, len);
            p += 5 + len;
        }
        if (b + 1 == bands)
            putBe32(blocksEnd, adler);
        putBe32(end, libdeflate_crc32(0, buf + 4, size_t(end - buf - 4)));
        if (!sink.write(buf, s.size))
            return false;
    }
    return true;
}

// ----------------------------------------------------------------------------------------------
// Quality below 100: Paeth-filtered rows, deflated with libdeflate

// The Paeth filter of a row of `n` bytes against the row above it.
void paethRow(const uchar* cur, const uchar* above, uchar* out, int n, int bpp) {
    // Left and upper-left are zero here, so the prediction is the byte above.
    for (int i = 0; i < bpp; ++i)
        out[i] = uchar(cur[i] - above[i]);
    for (int i = bpp; i < n; ++i) {
        const int a = cur[i - bpp];
        const int b = above[i];
        const int c = above[i - bpp];
        const int pa = std::abs(b - c);
        const int pb = std::abs(a - c);
        const int pc = std::abs(a + b - 2 * c);
        const int pred = ((pa <= pb) & (pa <= pc)) ? a : (pb <= pc ? b : c);
        out[i] = uchar(cur[i] - pred);
    }
}

// Filters rows [y0, y1) into `filtered` (rowBytes per row, filter byte first).
bool filterRows(const QImage& image, int bpp, int y0, int y1, uchar* filtered) {
    void (*const swizzle)(const uchar*, uchar*, int) = bpp == 4 ? toRgba : toRgb;
    const int w = image.width();
    const qsizetype pixelBytes = qsizetype(w) * bpp;
    const qsizetype rowBytes = 1 + pixelBytes;
    std::vector<uchar> cur(static_cast<size_t>(pixelBytes));
    std::vector<uchar> above(static_cast<size_t>(pixelBytes), 0);
    const int step = chunkRows(w);
    StraightRows src(image, step);
    if (y0 > 0) {
        if (!src.load(y0 - 1, 1))
            return false;
        swizzle(src.row(y0 - 1), above.data(), w);
    }
    for (int c = y0; c < y1; c += step) {
        const int ce = std::min(y1, c + step);
        if (!src.load(c, ce - c))
            return false;
        for (int y = c; y < ce; ++y) {
            swizzle(src.row(y), cur.data(), w);
            uchar* out = filtered + qsizetype(y) * rowBytes;
            out[0] = 4;  // filter: Paeth
            paethRow(cur.data(), above.data(), out + 1, int(pixelBytes), bpp);
            cur.swap(above);
        }
    }
    return true;
}

bool writeDeflated(const QImage& image, int bpp, int level, Sink& sink, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const int h = image.height();
    const qsizetype rowBytes = 1 + qsizetype(image.width()) * bpp;
    const size_t size = size_t(rowBytes) * size_t(h);
    // Whole-buffer compression: libdeflate has no streaming interface, and at these levels the
    // deflating dominates, so the second buffer is the price of one call.
    std::unique_ptr<uchar[]> filtered(new (std::nothrow) uchar[size]);
    if (!filtered)
        return fail(outOfMemory());

    const std::vector<core::RowBand> bands = core::rowBands(h, image.width());
    std::vector<char> ok(bands.size(), 0);
    core::runBands(bands, [&](size_t i, const core::RowBand& b) {
        ok[i] = filterRows(image, bpp, b.first, b.last, filtered.get());
    });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end())
        return fail(outOfMemory());

    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (!c)
        return fail(outOfMemory());
    const auto freeCompressor = qScopeGuard([c] { libdeflate_free_compressor(c); });
    const size_t bound = libdeflate_zlib_compress_bound(c, size);
    std::unique_ptr<uchar[]> packed(new (std::nothrow) uchar[bound]);
    if (!packed)
        return fail(outOfMemory());
    const size_t packedSize =
        libdeflate_zlib_compress(c, filtered.get(), size, packed.get(), bound);
    filtered.reset();
    if (packedSize == 0)
        return fail(outOfMemory());

    for (size_t at = 0; at < packedSize; at += size_t(kBandBytes)) {
        const size_t len = std::min(packedSize - at, size_t(kBandBytes));
        if (!sink.chunk("IDAT", QByteArray::fromRawData(
                                    reinterpret_cast<const char*>(packed.get() + at), len)))
            return false;
    }
    return true;
}

// Qt's writer: quality q means compression 100 - q, mapped onto zlib's levels 0..9; no quality
// leaves zlib's default.
int zlibLevel(int quality) {
    if (quality < 0)
        return 6;
    return (100 - std::min(quality, 100)) * 9 / 91;
}

bool writeWithQt(const QImage& image, QIODevice* out, int quality, QString* error) {
    QImageWriter writer(out, "png");
    writer.setQuality(quality);
    if (writer.write(image))
        return true;
    if (error) {
        const auto* file = qobject_cast<QFileDevice*>(out);
        *error = file && file->error() != QFileDevice::NoError ? file->errorString()
                                                               : writer.errorString();
    }
    return false;
}

}  // namespace

bool encodePng(const QImage& image, QIODevice* out, int quality, QString* error,
               const QByteArray& exif) {
    const QImage::Format f = image.format();
    if (image.isNull() || (f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied &&
                           f != QImage::Format_RGB32))
        return writeWithQt(image, out, quality, error);

    const bool alpha = image.hasAlphaChannel();
    const int bpp = alpha ? 4 : 3;
    Sink sink(out);
    QString why;
    const int level = zlibLevel(quality);
    bool ok = writeHeader(image, alpha, exif, sink, &why) &&
              (level == 0 ? writeStored(image, bpp, sink, &why)
                          : writeDeflated(image, bpp, level, sink, &why)) &&
              sink.chunk("IEND", QByteArray());
    // A buffered file reports a failed write when it is flushed.
    if (ok) {
        if (auto* file = qobject_cast<QFileDevice*>(out); file && !file->flush()) {
            why = file->errorString();
            ok = false;
        }
    }
    if (!ok && error)
        *error = sink.error().isEmpty() ? why : sink.error();
    return ok;
}

}  // namespace png
