// Image file directories of a little-endian TIFF structure: the layout shared by TIFF files and
// by the EXIF blocks that JPEG and PNG files carry.
#pragma once

#include <QByteArray>
#include <QList>

namespace formats {

enum TiffType : quint16 { kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

struct TiffEntry {
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value;  // count values of the type, little-endian
};

TiffEntry asciiEntry(quint16 tag, const QByteArray& text);  // NUL added
TiffEntry shortEntry(quint16 tag, const QList<quint16>& values);
TiffEntry longEntry(quint16 tag, const QList<quint32>& values);
TiffEntry rationalEntry(quint16 tag, quint32 numerator, quint32 denominator);
TiffEntry undefinedEntry(quint16 tag, const QByteArray& bytes);

// Bytes the IFD of `entries` takes with its values, as ifdBytes lays it out.
quint32 ifdSize(const QList<TiffEntry>& entries);

// The IFD of `entries` (sorted by tag here, as readers expect) for placement at offset `at`,
// followed by the values that do not fit in an entry, each at an even offset. `next` is the
// offset of the next IFD, 0 for none.
QByteArray ifdBytes(QList<TiffEntry> entries, quint32 at, quint32 next = 0);

}  // namespace formats
