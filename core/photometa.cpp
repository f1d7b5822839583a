#include "core/photometa.h"

namespace {

// Reads the numbers of a TIFF structure in its byte order; every read outside gives -1.
class TiffBytes {
public:
    explicit TiffBytes(const QByteArray& bytes)
        : m_bytes(bytes), m_bigEndian(bytes.startsWith("MM")) {}

    bool valid() const {
        return (m_bytes.startsWith("MM") || m_bytes.startsWith("II")) && number(2, 2) == 42;
    }
    qint64 number(qint64 at, int size) const {
        if (at < 0 || at + size > m_bytes.size())
            return -1;
        qint64 value = 0;
        for (int i = 0; i < size; ++i)
            value |= qint64(quint8(m_bytes[at + i])) << 8 * (m_bigEndian ? size - 1 - i : i);
        return value;
    }

    // One IFD entry: its tag, type, count and where its value is (inline when it fits 4 bytes).
    struct Entry {
        int tag = -1;
        int type = 0;
        qint64 count = 0;
        qint64 value = -1;  // offset of the value's bytes
    };
    // The entries of the IFD at `at`; none when it does not lie within the bytes.
    QList<Entry> entries(qint64 at) const {
        QList<Entry> out;
        const qint64 count = number(at, 2);
        if (count <= 0 || at + 2 + 12 * count > m_bytes.size())
            return out;
        static const int kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        for (qint64 i = 0; i < count; ++i) {
            const qint64 e = at + 2 + 12 * i;
            Entry entry;
            entry.tag = int(number(e, 2));
            entry.type = int(number(e + 2, 2));
            entry.count = number(e + 4, 4);
            const int unit = entry.type > 0 && entry.type < 13 ? kTypeSize[entry.type] : 0;
            const qint64 bytes = unit * entry.count;
            entry.value = bytes <= 4 ? e + 8 : number(e + 8, 4);
            out.append(entry);
        }
        return out;
    }
    // An ASCII value without its trailing NULs and blanks; empty when it lies outside.
    QByteArray text(const Entry& e) const {
        if (e.type != 2 || e.count <= 0 || e.count > 1024 || e.value < 0 ||
            e.value + e.count > m_bytes.size())
            return QByteArray();
        QByteArray t = m_bytes.mid(e.value, e.count);
        const qsizetype nul = t.indexOf('\0');
        if (nul >= 0)
            t.truncate(nul);
        return t.trimmed();
    }
    qint64 shortOrLong(const Entry& e) const {
        return e.type == 3 ? number(e.value, 2) : e.type == 4 ? number(e.value, 4) : -1;
    }

private:
    const QByteArray& m_bytes;
    bool m_bigEndian;
};

constexpr int kMake = 0x010F, kModel = 0x0110, kDateTime = 0x0132, kIccProfile = 0x8773,
              kExifIfd = 0x8769, kDateTimeOriginal = 0x9003, kDateTimeDigitized = 0x9004,
              kColorSpace = 0xA001, kInteropIfd = 0xA005, kInteropIndex = 0x0001;
constexpr int kUncalibrated = 0xFFFF;

void readTiff(const QByteArray& bytes, PhotoMeta* out) {
    const TiffBytes t(bytes);
    if (!t.valid())
        return;
    qint64 exif = -1;
    for (const TiffBytes::Entry& e : t.entries(t.number(4, 4))) {
        switch (e.tag) {
            case kMake:
                out->camera.make = t.text(e);
                break;
            case kModel:
                out->camera.model = t.text(e);
                break;
            case kDateTime:
                out->camera.dateTime = t.text(e);
                break;
            case kIccProfile:
                out->embedsProfile = e.count > 0;
                break;
            case kExifIfd:
                exif = t.shortOrLong(e);
                break;
        }
    }
    if (exif <= 0)
        return;
    bool uncalibrated = false;
    qint64 interop = -1;
    for (const TiffBytes::Entry& e : t.entries(exif)) {
        if (e.tag == kDateTimeOriginal)
            out->camera.dateTimeOriginal = t.text(e);
        else if (e.tag == kDateTimeDigitized)
            out->camera.dateTimeDigitized = t.text(e);
        else if (e.tag == kColorSpace)
            uncalibrated = t.shortOrLong(e) == kUncalibrated;
        else if (e.tag == kInteropIfd)
            interop = t.shortOrLong(e);
    }
    if (!uncalibrated || interop <= 0)
        return;
    for (const TiffBytes::Entry& e : t.entries(interop))
        if (e.tag == kInteropIndex && t.text(e) == "R03")
            out->exifAdobeRgb = true;
}

qint64 be(const QByteArray& b, qint64 at, int size) {
    qint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = v << 8 | quint8(b[at + i]);
    return v;
}

void readJpeg(const QByteArray& head, PhotoMeta* out) {
    for (qint64 at = 2; at + 4 <= head.size();) {
        if (quint8(head[at]) != 0xFF)
            return;
        const int marker = quint8(head[at + 1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // the pixels begin: no more metadata
            return;
        const qint64 length = be(head, at + 2, 2);
        const QByteArray body = head.mid(at + 4, length - 2);
        if (marker == 0xE1 && body.startsWith(QByteArray("Exif\0\0", 6)))
            readTiff(body.mid(6), out);
        else if (marker == 0xE2 && body.startsWith(QByteArray("ICC_PROFILE\0", 12)))
            out->embedsProfile = true;
        at += 2 + length;
    }
}

void readPng(const QByteArray& head, PhotoMeta* out) {
    for (qint64 at = 8; at + 8 <= head.size();) {
        const qint64 length = be(head, at, 4);
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "IDAT" || type == "IEND")
            return;
        if (type == "iCCP")
            out->embedsProfile = true;
        else if (type == "eXIf")
            readTiff(head.mid(at + 8, length), out);
        at += 12 + length;
    }
}

}  // namespace

void readExif(const QByteArray& tiff, PhotoMeta* out) {
    readTiff(tiff, out);
}

PhotoMeta readPhotoMeta(const QByteArray& head) {
    PhotoMeta out;
    if (head.startsWith("\xFF\xD8"))
        readJpeg(head, &out);
    else if (head.startsWith("\x89PNG\r\n\x1a\n"))
        readPng(head, &out);
    else
        readTiff(head, &out);
    return out;
}

QColorSpace declaredColorSpace(const QColorSpace& decoded, const PhotoMeta& meta, bool* unusable) {
    *unusable = false;
    if (decoded.isValid())
        return decoded;
    if (meta.embedsProfile)
        *unusable = true;
    else if (meta.exifAdobeRgb)
        return QColorSpace(QColorSpace::AdobeRgb);
    return QColorSpace(QColorSpace::SRgb);
}
