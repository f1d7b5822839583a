#include "formats/tiffifd.h"

#include <QtEndian>
#include <algorithm>

namespace formats {

namespace {

template <class T>
QByteArray littleEndian(const QList<T>& values) {
    QByteArray out(values.size() * qsizetype(sizeof(T)), Qt::Uninitialized);
    for (qsizetype i = 0; i < values.size(); ++i)
        qToLittleEndian(values[i], out.data() + i * qsizetype(sizeof(T)));
    return out;
}

quint32 outOfLine(const TiffEntry& e) {
    const auto n = quint32(e.value.size());
    return n <= 4 ? 0 : n + (n & 1);
}

}  // namespace

TiffEntry asciiEntry(quint16 tag, const QByteArray& text) {
    return {tag, kAscii, quint32(text.size() + 1), text + '\0'};
}
TiffEntry shortEntry(quint16 tag, const QList<quint16>& values) {
    return {tag, kShort, quint32(values.size()), littleEndian(values)};
}
TiffEntry longEntry(quint16 tag, const QList<quint32>& values) {
    return {tag, kLong, quint32(values.size()), littleEndian(values)};
}
TiffEntry rationalEntry(quint16 tag, quint32 numerator, quint32 denominator) {
    return {tag, kRational, 1, littleEndian(QList<quint32>{numerator, denominator})};
}
TiffEntry undefinedEntry(quint16 tag, const QByteArray& bytes) {
    return {tag, kUndefined, quint32(bytes.size()), bytes};
}

quint32 ifdSize(const QList<TiffEntry>& entries) {
    quint32 size = 2 + 12 * quint32(entries.size()) + 4;
    for (const TiffEntry& e : entries)
        size += outOfLine(e);
    return size;
}

QByteArray ifdBytes(QList<TiffEntry> entries, quint32 at, quint32 next) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    QByteArray ifd, values;
    quint32 valueAt = at + 2 + 12 * quint32(entries.size()) + 4;
    const auto put16 = [&ifd](quint16 v) { ifd += littleEndian(QList<quint16>{v}); };
    const auto put32 = [&ifd](quint32 v) { ifd += littleEndian(QList<quint32>{v}); };
    put16(quint16(entries.size()));
    for (const TiffEntry& e : entries) {
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        if (outOfLine(e) == 0) {
            ifd += e.value.leftJustified(4, '\0');
        } else {
            put32(valueAt + quint32(values.size()));
            values += e.value;
            if (e.value.size() & 1)
                values += '\0';
        }
    }
    put32(next);
    return ifd + values;
}

}  // namespace formats
