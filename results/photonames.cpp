#include "results/photonames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace results {

namespace {

struct Format {
    const char* name;  // as messages say it
    QStringList suffixes;
};

const QList<Format>& formats() {
    static const QList<Format> all = {
        {"JPEG", {QStringLiteral("jpeg"), QStringLiteral("jpg")}},
        {"TIFF", {QStringLiteral("tiff"), QStringLiteral("tif")}},
        {"BMP", {QStringLiteral("bmp")}},
        {"PNG", {QStringLiteral("png")}},
        {"XPM", {QStringLiteral("xpm")}},
    };
    return all;
}

}  // namespace

const char kSourceKey[] = "Source photo";
const char kVersionKey[] = "Source version";
const char kDigestKey[] = "Source digest";
const char kBackgroundKey[] = "Source background";

const QStringList& photoNamePatterns() {
    static const QStringList patterns = [] {
        QStringList out;
        for (const Format& f : formats())
            for (const QString& s : f.suffixes)
                out << QStringLiteral("*.") + s;
        return out;
    }();
    return patterns;
}

bool isPhotoName(const QString& fileName) {
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || fileName.startsWith(QLatin1Char('.')))  // hidden files are no photos
        return false;
    const QString suffix = fileName.mid(dot + 1);
    for (const Format& f : formats())
        if (f.suffixes.contains(suffix, Qt::CaseInsensitive))
            return true;
    return false;
}

QString readableFormats() {
    QStringList names;
    for (const Format& f : formats())
        names << QString::fromLatin1(f.name);
    return names.join(QStringLiteral(", "));
}

QString photoFileFilter(const QString& label) {
    return label + QStringLiteral(" (") + photoNamePatterns().join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

QString resultName(const QString& photo, const QString& suffix) {
    return numberedResultName(photo, 1, suffix);
}

QString numberedResultName(const QString& photo, int n, const QString& suffix) {
    const QString name = QFileInfo(photo).completeBaseName();
    return n <= 1 ? name + QLatin1Char('.') + suffix
                  : name + QStringLiteral("-%1.").arg(n) + suffix;
}

QString pairedStem(const QString& photo, const QString& background) {
    return QFileInfo(photo).completeBaseName() + QLatin1Char('-') +
           QFileInfo(background).completeBaseName();
}

namespace {

QString stemmedName(const QString& stem, int n, const QString& suffix) {
    return n <= 1 ? stem + QLatin1Char('.') + suffix
                  : stem + QStringLiteral("-%1.").arg(n) + suffix;
}

}  // namespace

QString resultIdentity(const QString& photo, const QString& background) {
    const QString me = sourceName(photo);
    return background.isEmpty() ? me : me + QLatin1Char('\n') + sourceName(background);
}

QString photoVersion(const QString& path) {
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1:%2:%3:%4.%5:%6.%7")
        .arg(qulonglong(st.st_dev))
        .arg(qulonglong(st.st_ino))
        .arg(qlonglong(st.st_size))
        .arg(qlonglong(st.st_mtim.tv_sec))
        .arg(qlonglong(st.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
        .arg(qlonglong(st.st_ctim.tv_sec))
        .arg(qlonglong(st.st_ctim.tv_nsec), 9, 10, QLatin1Char('0'));
}

QString photoDigest(const QString& path) {
    // Regular files only: opening a pipe named like a photo would wait for a writer for good.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    QFile file;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QString();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

bool sameFileAndSize(const QString& version, const QString& other) {
    const QStringList a = version.split(QLatin1Char(':')), b = other.split(QLatin1Char(':'));
    return a.size() == 5 && b.size() == 5 && a.mid(0, 3) == b.mid(0, 3);
}

namespace {

// The "key: value" comments of a JPEG's header, up to its first scan.
QHash<QString, QString> jpegComments(const QByteArray& head) {
    QHash<QString, QString> texts;
    for (qsizetype at = 2; at + 4 <= head.size();) {
        if (quint8(head[at]) != 0xFF)
            break;
        const quint8 marker = quint8(head[at + 1]);
        if (marker == 0xDA || marker == 0xD9)  // the first scan, or the end
            break;
        const qsizetype length = qsizetype(quint8(head[at + 2])) << 8 | quint8(head[at + 3]);
        if (length < 2 || at + 2 + length > head.size())
            break;
        if (marker == 0xFE) {
            const QString comment = QString::fromUtf8(head.mid(at + 4, length - 2));
            const qsizetype colon = comment.indexOf(QStringLiteral(": "));
            if (colon > 0)
                texts.insert(comment.left(colon), comment.mid(colon + 2));
        }
        at += 2 + length;
    }
    return texts;
}

// A TIFF's description (tag 270) read as "key: value" lines, where this tool's results keep
// their texts. Either byte order; only the first directory, and at most 64 KB of text.
QHash<QString, QString> tiffDescription(QFile& file, const QByteArray& head) {
    QHash<QString, QString> texts;
    const bool little = head.startsWith("II*");
    const auto number = [little](const QByteArray& b, qsizetype at, int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= quint32(quint8(b[at + (little ? i : bytes - 1 - i)])) << (8 * i);
        return v;
    };
    const quint32 ifdAt = number(head, 4, 4);
    if (!file.seek(ifdAt))
        return texts;
    const QByteArray countBytes = file.read(2);
    if (countBytes.size() != 2)
        return texts;
    const QByteArray entries = file.read(qint64(number(countBytes, 0, 2)) * 12);
    for (qsizetype at = 0; at + 12 <= entries.size(); at += 12) {
        if (number(entries, at, 2) != 270 || number(entries, at + 2, 2) != 2)
            continue;
        const quint32 count = number(entries, at + 4, 4);
        if (count > 64 * 1024)
            break;
        QByteArray text = entries.mid(at + 8, 4);
        if (count > 4 && (!file.seek(number(entries, at + 8, 4)) ||
                          (text = file.read(count)).size() != qsizetype(count)))
            break;
        text.truncate(qsizetype(count));
        for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
            const qsizetype colon = line.indexOf(QStringLiteral(": "));
            if (colon > 0)
                texts.insert(line.left(colon), line.mid(colon + 2).remove(QChar(0)));
        }
        break;
    }
    return texts;
}

// The text entries of a result that come before its pixels: a PNG's tEXt, zTXt and iTXt, a
// JPEG's comments, a TIFF's description. Read by hand, as only these few bytes are wanted and a
// file that is neither must give nothing, not a decoder's complaint.
QHash<QString, QString> leadingTexts(QFile& file) {
    QHash<QString, QString> texts;
    const QByteArray head = file.read(256 * 1024);
    if (head.startsWith("\xFF\xD8"))
        return jpegComments(head);
    if ((head.startsWith("II*") || head.startsWith("MM\0*")) && head.size() >= 8)
        return tiffDescription(file, head);
    if (!head.startsWith("\x89PNG\r\n\x1a\n"))
        return texts;
    // A zlib stream, as qUncompress takes it: after a size hint, which it grows past as needed.
    const auto inflate = [](const QByteArray& z) {
        return qUncompress(QByteArray("\0\0\x10\0", 4) + z);
    };
    for (qsizetype at = 8; at + 12 <= head.size();) {
        const quint32 length = quint32(quint8(head[at])) << 24 |
                               quint32(quint8(head[at + 1])) << 16 |
                               quint32(quint8(head[at + 2])) << 8 | quint8(head[at + 3]);
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "IDAT" || length > quint32(head.size() - at - 12))
            break;
        const QByteArray data = head.mid(at + 8, qsizetype(length));
        const qsizetype nul = data.indexOf('\0');
        const QString key = QString::fromLatin1(data.left(nul));
        if (nul <= 0) {
            // no keyword: no text entry
        } else if (type == "tEXt") {
            texts.insert(key, QString::fromLatin1(data.mid(nul + 1)));
        } else if (type == "zTXt" && nul + 1 < data.size() && data[nul + 1] == 0) {
            texts.insert(key, QString::fromLatin1(inflate(data.mid(nul + 2))));
        } else if (type == "iTXt" && nul + 2 < data.size() && data[nul + 2] == 0) {
            const qsizetype language = data.indexOf('\0', nul + 3);
            const qsizetype translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
            const QByteArray text = data.mid(translated + 1);
            if (translated >= 0)
                texts.insert(key, QString::fromUtf8(data[nul + 1] ? inflate(text) : text));
        }
        at += 12 + qsizetype(length);
    }
    return texts;
}

}  // namespace

ResultOrigin resultOrigin(const QString& resultPath) {
    ResultOrigin out;
    struct stat st;
    // A link, folder or anything else at the name counts as there, never as a result.
    const QByteArray name = QFile::encodeName(resultPath);
    out.exists = ::lstat(name.constData(), &st) == 0;
    if (!out.exists || !S_ISREG(st.st_mode))
        return out;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return out;
    }
    const QHash<QString, QString> texts = leadingTexts(file);
    out.source = texts.value(QString::fromLatin1(kSourceKey));
    out.version = texts.value(QString::fromLatin1(kVersionKey));
    out.digest = texts.value(QString::fromLatin1(kDigestKey));
    out.background = texts.value(QString::fromLatin1(kBackgroundKey));
    return out;
}

QString sourceName(const QString& photo) {
    const QFileInfo info(photo);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

ResultSlot resultSlot(const QString& folder, const QString& photo,
                      const std::function<QString(const QString&)>& claimed, const QString& suffix,
                      const ResultKind& kind) {
    const QString me = sourceName(photo);
    const QString who = resultIdentity(photo, kind.background);
    const QString bg = kind.background.isEmpty() ? QString() : sourceName(kind.background);
    const QString stem = kind.stem.isEmpty() ? QFileInfo(photo).completeBaseName() : kind.stem;
    ResultSlot slot;
    for (int n = 1; n <= 9999; ++n) {
        const QString path = folder + QLatin1Char('/') + stemmedName(stem, n, suffix);
        const QString key = sourceName(path);
        // The photo itself (or its background) lying in the folder is in use, whatever claims
        // its name.
        const bool itself = key == me || (!bg.isEmpty() && key == bg);
        const QString other = itself ? key : claimed ? claimed(path) : QString();
        ResultOrigin origin;
        if (!itself && (other.isEmpty() || other == who))
            origin = resultOrigin(path);
        const bool ours = origin.source == me && (bg.isEmpty() || origin.background == bg);
        const bool mine =
            !itself && (other == who || (other.isEmpty() && (!origin.exists || ours)));
        if (n == 1 && !mine) {
            slot.takenBy = other.isEmpty() ? origin.source : other.section(QLatin1Char('\n'), 0, 0);
            slot.why = key == slot.takenBy      ? ResultSlot::First::InUse
                       : slot.takenBy.isEmpty() ? ResultSlot::First::NotAResult
                                                : ResultSlot::First::OtherResult;
        }
        slot.first = n == 1 ? path : slot.first;
        if (mine) {
            slot.path = path;
            slot.was = origin;
            return slot;
        }
    }
    return slot;
}

QString slotNote(const ResultSlot& slot) {
    const QString first = QFileInfo(slot.first).fileName();
    QString why;
    switch (slot.why) {
        case ResultSlot::First::Free:
            return QString();
        case ResultSlot::First::OtherResult:
            why = QStringLiteral("%1 holds the result of %2")
                      .arg(first, QDir::toNativeSeparators(slot.takenBy));
            break;
        case ResultSlot::First::InUse:
            why = QStringLiteral("%1 is a photo in use (%2)")
                      .arg(first, QDir::toNativeSeparators(slot.takenBy));
            break;
        case ResultSlot::First::NotAResult:
            why = QStringLiteral("%1 is a file that is not a result of this photo").arg(first);
            break;
    }
    return slot.path.isEmpty()
               ? why + QStringLiteral("; no free name is left for its result")
               : why + QStringLiteral("; written as %1").arg(QFileInfo(slot.path).fileName());
}

}  // namespace results
