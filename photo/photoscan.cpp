#include "photo/photoscan.h"

#include <zlib.h>

#include <QIODevice>
#include <QSet>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Verdict = PhotoScan::Verdict;

PhotoScan damaged(const QString& why) {
    PhotoScan out;
    out.verdict = Verdict::Damaged;
    out.detail = why;
    return out;
}

// Reads the device by offset from where the scan began, through one cached block, so that a walk
// over many small headers costs few reads.
class Reader {
public:
    explicit Reader(QIODevice* device)
        : m_device(device), m_base(device->pos()), m_size(device->size() - m_base) {}
    ~Reader() { m_device->seek(m_base); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    qint64 size() const { return m_size; }

    // The byte at `at`, or -1 past the end.
    int byte(qint64 at) {
        if (!cover(at))
            return -1;
        return quint8(m_block[at - m_blockAt]);
    }
    // Up to `n` bytes from `at`: fewer at the end.
    QByteArray bytes(qint64 at, qint64 n) {
        if (at < 0 || at >= m_size || n <= 0)
            return QByteArray();
        n = std::min(n, m_size - at);
        if (cover(at) && at + n <= m_blockAt + m_block.size())
            return m_block.mid(at - m_blockAt, n);
        if (!m_device->seek(m_base + at))
            return QByteArray();
        return m_device->read(n);
    }
    // The first `value` at or after `at`, or size() when there is none.
    qint64 find(qint64 at, char value) {
        while (cover(at)) {
            const char* start = m_block.constData() + (at - m_blockAt);
            const auto* hit = static_cast<const char*>(
                std::memchr(start, value, size_t(m_block.size() - (at - m_blockAt))));
            if (hit)
                return at + (hit - start);
            at = m_blockAt + m_block.size();
        }
        return m_size;
    }
    quint32 be16(qint64 at) { return quint32(byte(at)) << 8 | quint32(byte(at + 1)); }
    quint32 be32(qint64 at) { return be16(at) << 16 | be16(at + 2); }

private:
    static constexpr qint64 kBlock = 256 * 1024;

    bool cover(qint64 at) {
        if (at < 0 || at >= m_size)
            return false;
        if (at >= m_blockAt && at < m_blockAt + m_block.size())
            return true;
        m_blockAt = at;
        m_block = m_device->seek(m_base + at) ? m_device->read(kBlock) : QByteArray();
        return !m_block.isEmpty();
    }

    QIODevice* m_device;
    qint64 m_base;
    qint64 m_size;
    QByteArray m_block;
    qint64 m_blockAt = 0;
};

// ----------------------------------------------------------------------------------------------
// PNG

// Bytes the zlib stream at [at, end) inflates to, counted up to just past `limit` only.
qint64 inflatedSize(Reader& r, qint64 at, qint64 end, qint64 limit) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return limit + 1;
    static thread_local std::array<Bytef, 64 * 1024> sink;
    qint64 total = 0;
    int status = Z_OK;
    while (status == Z_OK && total <= limit) {
        QByteArray in;
        if (z.avail_in == 0) {
            in = r.bytes(at, std::min<qint64>(end - at, 64 * 1024));
            if (in.isEmpty())
                break;
            at += in.size();
            z.next_in = reinterpret_cast<Bytef*>(in.data());
            z.avail_in = uInt(in.size());
        }
        while (z.avail_in > 0 && status == Z_OK && total <= limit) {
            z.next_out = sink.data();
            z.avail_out = uInt(sink.size());
            status = inflate(&z, Z_NO_FLUSH);
            total += qint64(sink.size() - z.avail_out);
            if (status == Z_BUF_ERROR)
                status = Z_OK;  // needs more input
            if (z.avail_out == sink.size() && status == Z_OK && z.avail_in > 0)
                break;  // no progress; take more input
        }
    }
    inflateEnd(&z);
    return total;
}

// Where the compressed part of a zTXt, iTXt or iCCP chunk begins, or -1 when it is stored
// plainly (an uncompressed iTXt) or cannot be found.
qint64 compressedStart(Reader& r, const QByteArray& type, qint64 data, qint64 end) {
    const qint64 keywordEnd = r.find(data, '\0');
    if (keywordEnd >= end)
        return -1;
    if (type != "iTXt")
        return keywordEnd + 2;  // the keyword, then the method byte
    if (r.byte(keywordEnd + 1) != 1)
        return -1;
    const qint64 language = r.find(keywordEnd + 3, '\0');
    const qint64 translated = language < end ? r.find(language + 1, '\0') : end;
    return translated < end ? translated + 1 : -1;
}

bool isAncillary(const QByteArray& type) {
    return (quint8(type[0]) & 0x20) != 0;
}

// Ancillary chunks the decoder turns into pixels or their meaning; each has a small fixed size.
bool shapesPixels(const QByteArray& type) {
    static const QSet<QByteArray> kinds = {"tRNS", "gAMA", "cHRM", "sRGB", "sBIT", "bKGD",
                                           "hIST", "pHYs", "cICP", "mDCv", "cLLi"};
    return kinds.contains(type);
}

double pngBytesPerPixel(int depth, int colourType) {
    switch (colourType) {
        case 0:  // grey
            return depth == 16 ? 2 : 1;
        case 3:  // palette
            return 1;
        default:  // colour or grey with alpha: 32-bit pixels, 64-bit at 16 bits a sample
            return depth == 16 ? 8 : 4;
    }
}

PhotoScan scanPng(Reader& r) {
    PhotoScan out;
    qint64 at = 8, metadata = 0;
    bool over = false;
    std::vector<std::pair<qint64, qint64>> left;  // chunks left out, [from, to)
    for (bool first = true; at + 12 <= r.size(); first = false) {
        const quint32 length = r.be32(at);
        const QByteArray type = r.bytes(at + 4, 4);
        if (length > 0x7fffffffu)
            return damaged(QStringLiteral("a chunk's length is out of range"));
        const qint64 data = at + 8, end = data + length, next = end + 4;
        if (first) {
            if (type != "IHDR" || length != 13)
                return damaged(QStringLiteral("it does not begin with its header chunk"));
            out.size = QSize(int(std::min<quint32>(r.be32(data), 0x7fffffffu)),
                             int(std::min<quint32>(r.be32(data + 4), 0x7fffffffu)));
            out.decodeBytesPerPixel = pngBytesPerPixel(r.byte(data + 8), r.byte(data + 9));
        }
        if (type == "IEND")
            break;
        if (isAncillary(type) && !shapesPixels(type)) {
            // Text, profiles and unknown chunks are held by the decoder whole; once they pass
            // the budget, they and every later one are left out.
            qint64 cost = 12 + length;
            if (!over) {
                const qint64 packed = type == "zTXt" || type == "iTXt" || type == "iCCP"
                                          ? compressedStart(r, type, data, end)
                                          : -1;
                if (packed >= 0)
                    cost += inflatedSize(r, packed, end, kMetadataBudget - metadata);
            }
            over = over || metadata + cost > kMetadataBudget;
            if (over)
                left.emplace_back(at, std::min(next, r.size()));
            else
                metadata += cost;
        }
        at = next;
    }
    if (!left.empty()) {
        qint64 from = 0;
        for (const auto& [begin, end] : left) {
            out.filtered += r.bytes(from, begin - from);
            from = end;
        }
        out.filtered += r.bytes(from, r.size() - from);
    }
    return out;
}

// ----------------------------------------------------------------------------------------------
// JPEG

struct JpegFrame {
    bool seen = false;
    bool progressive = false;
    double samples = 0;  // coefficients a pixel, over all components
    struct Component {
        int id;
        int h, v;
        std::array<int, 64> bits;  // precision coded so far of each coefficient, -1 for none
        bool scanned;              // in a sequential frame
    };
    std::vector<Component> components;
};

// Whether the scan whose header is at `at` adds detail to what the frame's earlier scans gave,
// as a sound sequence of scans does; records what it adds.
bool scanAddsDetail(Reader& r, qint64 at, qint64 length, JpegFrame& f) {
    const int count = r.byte(at);
    if (count < 1 || count > 4 || length < 6 + 2 * count)
        return false;
    const int ss = r.byte(at + 1 + 2 * count), se = r.byte(at + 2 + 2 * count),
              a = r.byte(at + 3 + 2 * count), ah = a >> 4, al = a & 15;
    for (int i = 0; i < count; ++i) {
        const int id = r.byte(at + 1 + 2 * i);
        const auto c = std::find_if(f.components.begin(), f.components.end(),
                                    [id](const JpegFrame::Component& k) { return k.id == id; });
        if (c == f.components.end())
            return false;
        if (!f.progressive) {
            if (c->scanned)
                return false;  // a sequential frame codes each component once
            c->scanned = true;
            continue;
        }
        if (ss > se || se > 63 || (ss == 0 && se != 0) || (ss > 0 && count != 1) || al > 13 ||
            (ah != 0 && al != ah - 1))
            return false;
        if (ss > 0 && c->bits[0] < 0)
            return false;  // AC coefficients before the DC one
        for (int k = ss; k <= se; ++k) {
            if (c->bits[k] != (ah == 0 ? -1 : ah))
                return false;  // coded before, or refined out of turn
            c->bits[k] = al;
        }
    }
    return true;
}

// The end of the entropy-coded data that begins at `at`: the next marker that is not a restart.
qint64 entropyEnd(Reader& r, qint64 at) {
    for (;;) {
        at = r.find(at, '\xff');
        const int next = r.byte(at + 1);
        if (next < 0)
            return r.size();
        if (next != 0 && !(next >= 0xD0 && next <= 0xD7) && next != 0xFF)
            return at;
        at += next == 0xFF ? 1 : 2;
    }
}

PhotoScan scanJpeg(Reader& r) {
    PhotoScan out;
    JpegFrame frame;
    int scans = 0;
    for (qint64 at = 2;;) {
        if (r.byte(at) != 0xFF) {
            at = r.find(at, '\xff');  // stray bytes: the decoder warns, and so do we, later
            if (at >= r.size())
                break;
        }
        int marker = 0xFF;
        while (marker == 0xFF)
            marker = r.byte(++at);
        ++at;
        if (marker < 0 || marker == 0xD9)
            break;
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0)
            continue;
        const qint64 length = r.be16(at);
        if (length < 2)
            return damaged(QStringLiteral("a marker segment's length is out of range"));
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader && !frame.seen) {
            frame.seen = true;
            frame.progressive = (marker & 3) == 2;  // SOF2, SOF6, SOF10, SOF14
            out.size = QSize(int(r.be16(at + 5)), int(r.be16(at + 3)));
            const int count = r.byte(at + 7);
            int hMax = 1, vMax = 1;
            for (int i = 0; i < count && 10 + 3 * i <= length; ++i) {
                const int sampling = std::max(r.byte(at + 9 + 3 * i), 0x11);
                JpegFrame::Component c{r.byte(at + 8 + 3 * i),
                                       std::max(sampling >> 4, 1),
                                       std::max(sampling & 15, 1),
                                       {},
                                       false};
                c.bits.fill(-1);
                frame.components.push_back(c);
                hMax = std::max(hMax, c.h);
                vMax = std::max(vMax, c.v);
            }
            for (const auto& c : frame.components)
                frame.samples += double(c.h * c.v) / (hMax * vMax);
            out.decodeBytesPerPixel = count == 1 ? 1 : 4;
        } else if (marker == 0xDA) {
            if (!frame.seen)
                return damaged(QStringLiteral("a scan comes before the frame header"));
            if (++scans > kMaxJpegScans)
                return damaged(QStringLiteral("more than %1 scans").arg(kMaxJpegScans));
            if (!scanAddsDetail(r, at + 2, length, frame))
                return damaged(
                    QStringLiteral("scan %1 adds nothing to the scans before it").arg(scans));
            // A frame of several scans is decoded into a whole image of 16-bit coefficients
            // first; one coded in a single scan goes row by row.
            if (scans == 1 && (frame.progressive || r.byte(at + 2) < int(frame.components.size())))
                out.decodeBytesPerPixel += 2 * frame.samples;
            at = entropyEnd(r, at + length);
            continue;
        }
        at += length;
    }
    return out;
}

// ----------------------------------------------------------------------------------------------
// TIFF

class TiffReader {
public:
    TiffReader(Reader& r) : m_r(r), m_little(r.byte(0) == 'I'), m_big(number(2, 2) == 43) {}

    bool big() const { return m_big; }
    qint64 number(qint64 at, int bytes) {
        if (at < 0 || at + bytes > m_r.size())
            return -1;
        qint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= qint64(m_r.byte(at + i)) << 8 * (m_little ? i : bytes - 1 - i);
        return value;
    }
    static int typeSize(int type) {
        switch (type) {
            case 1:
            case 2:
            case 6:
            case 7:
                return 1;
            case 3:
            case 8:
                return 2;
            case 4:
            case 9:
            case 11:
            case 13:
                return 4;
            case 5:
            case 10:
            case 12:
            case 16:
            case 17:
            case 18:
                return 8;
            default:
                return 0;
        }
    }
    struct Entry {
        int tag = 0, type = 0;
        qint64 count = 0, valueAt = 0;  // where the values are
    };
    Entry entry(qint64 at) {
        Entry e;
        e.tag = int(number(at, 2));
        e.type = int(number(at + 2, 2));
        e.count = number(at + 4, m_big ? 8 : 4);
        const int inline_ = m_big ? 8 : 4;
        const qint64 field = at + (m_big ? 12 : 8);
        const qint64 bytes = e.count * typeSize(e.type);
        e.valueAt = bytes <= inline_ ? field : number(field, inline_);
        return e;
    }
    qint64 value(const Entry& e, qint64 i) {
        const int size = typeSize(e.type);
        return size == 0 || i >= e.count ? -1 : number(e.valueAt + i * size, size);
    }

private:
    Reader& m_r;
    bool m_little;
    bool m_big;
};

PhotoScan scanTiff(Reader& r) {
    PhotoScan out;
    TiffReader t(r);
    const int offsetBytes = t.big() ? 8 : 4, countBytes = t.big() ? 8 : 2,
              entryBytes = t.big() ? 20 : 12;
    qint64 ifd = t.number(t.big() ? 8 : 4, offsetBytes);
    QSet<qint64> seen;
    qint64 width = 0, height = 0, rowsPerStrip = -1, samples = 1, bits = 1, format = 1,
           photometric = -1, strips = 0, largestStrip = 0, tileW = 0, tileH = 0, packing = 1,
           planes = 1;
    for (int page = 0; ifd > 0; ++page) {
        if (seen.contains(ifd))
            return damaged(QStringLiteral("its pages form a loop"));
        if (page >= kMaxTiffPages)
            return damaged(QStringLiteral("more than %1 pages").arg(kMaxTiffPages));
        seen.insert(ifd);
        const qint64 entries = t.number(ifd, countBytes);
        // Divided, not multiplied: a BigTIFF count of 2^62 entries times their size wraps
        // round to a small number and would be walked entry by entry.
        if (entries < 0 || entries > (r.size() - ifd - countBytes) / entryBytes)
            return damaged(QStringLiteral("a page's directory runs past the end of the file"));
        for (qint64 i = 0; page == 0 && i < entries; ++i) {
            const TiffReader::Entry e = t.entry(ifd + countBytes + i * entryBytes);
            const qint64 first = t.value(e, 0);
            switch (e.tag) {
                case 256:
                    width = first;
                    break;
                case 257:
                    height = first;
                    break;
                case 258:
                    bits = first;
                    break;
                case 259:
                    packing = first;
                    break;
                case 262:
                    photometric = first;
                    break;
                case 284:
                    planes = first;
                    break;
                case 277:
                    samples = first;
                    break;
                case 278:
                    rowsPerStrip = first;
                    break;
                case 322:
                    tileW = first;
                    break;
                case 323:
                    tileH = first;
                    break;
                case 339:
                    format = first;
                    break;
                case 273:
                case 324:  // strip or tile offsets
                    strips = e.count;
                    break;
                case 279:
                case 325: {  // their byte counts: each strip is read into memory whole
                    const int size = TiffReader::typeSize(e.type);
                    if (size == 0 || e.count < 0 || e.count > r.size() / size || e.valueAt < 0 ||
                        e.valueAt > r.size() - e.count * size)
                        return damaged(
                            QStringLiteral("its strip table runs past the end of the file"));
                    for (qint64 s = 0; s < e.count; ++s)
                        largestStrip = std::max(largestStrip, t.value(e, s));
                    break;
                }
                default:
                    break;
            }
        }
        ifd = t.number(ifd + countBytes + entries * entryBytes, offsetBytes);
    }
    if (strips < 0 || strips > r.size())
        return damaged(QStringLiteral("its strip table runs past the end of the file"));
    if (width > 0 && height > 0)
        out.size = QSize(int(std::min<qint64>(width, 0x7fffffff)),
                         int(std::min<qint64>(height, 0x7fffffff)));
    const double pixels = double(std::max<qint64>(width, 1)) * double(std::max<qint64>(height, 1));
    double image = 4;  // the reader turns other kinds into 32-bit pixels through libtiff's own
    bool throughRgba = true;
    if (photometric <= 1 && samples == 1) {  // grey
        image = bits == 16 ? 2 : 1;
        throughRgba = bits != 1 && bits != 8 && bits != 16;
    } else if (photometric == 3) {
        image = 1;
        throughRgba = false;
    } else if (photometric == 2 && (bits == 16 || bits == 32)) {
        image = format == 3 && bits == 32 ? 16 : 8;
        throughRgba = false;
    }
    // A strip read in one piece, packed, and unpacked whole where libtiff makes the 32-bit pixels.
    // libtiff reads one uncompressed strip of the whole image in pieces of its own.
    const bool chopped = tileH <= 0 && strips == 1 && packing == 1 && planes == 1;
    if (chopped)
        largestStrip = 0;
    const qint64 rows = chopped            ? 1
                        : tileH > 0        ? tileH
                        : rowsPerStrip > 0 ? std::min(rowsPerStrip, height)
                                           : height;
    const double unpacked = throughRgba
                                ? double(rows) * std::max<qint64>(tileW > 0 ? tileW : width, 1) *
                                      std::max<qint64>(samples, 1) * std::max<qint64>(bits, 1) / 8
                                : 0;
    out.decodeBytesPerPixel =
        image + (std::min<double>(largestStrip, r.size()) + unpacked) / pixels;
    return out;
}

// ----------------------------------------------------------------------------------------------
// BMP: only its size, which Qt's reader gives none for beyond its own allocation limit.

PhotoScan scanBmp(Reader& r) {
    PhotoScan out;
    const QByteArray h = r.bytes(14, 12);
    if (h.size() == 12 && quint8(h[0]) >= 40) {
        const auto le32 = [&](int at) {
            return qint32(quint32(quint8(h[at])) | quint32(quint8(h[at + 1])) << 8 |
                          quint32(quint8(h[at + 2])) << 16 | quint32(quint8(h[at + 3])) << 24);
        };
        const qint64 w = le32(4), height = le32(8);
        if (w > 0 && height != 0 && height != std::numeric_limits<qint32>::min())
            out.size = QSize(int(w), int(std::abs(height)));
    }
    return out;
}

}  // namespace

PhotoScan scanPhoto(QIODevice* device) {
    if (!device || device->isSequential())
        return PhotoScan();
    Reader r(device);
    const QByteArray head = r.bytes(0, 8);
    if (head == QByteArray("\x89PNG\r\n\x1a\n", 8))
        return scanPng(r);
    if (head.startsWith("\xff\xd8"))
        return scanJpeg(r);
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4)))
        return scanTiff(r);
    if (head.startsWith("BM"))
        return scanBmp(r);
    return PhotoScan();
}
