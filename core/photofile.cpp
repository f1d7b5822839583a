#include "core/photofile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QStringList>
#include <QTransform>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/librarylines.h"
#include "core/photoscan.h"

namespace {

// A 100-megapixel photo decodes to 400 MB of 32-bit pixels; allow well beyond that while
// still refusing headers that claim gigapixel sizes no camera makes. The pixel limit read
// from the header comes first; this guards formats whose header gives no size.
constexpr int kAllocationLimitMB = 2048;

using Problem = PhotoLoad::Problem;

// While a decode runs on a thread, the decoder's warnings (libjpeg's "Corrupt JPEG data..."
// comes through Qt's plugin as a warning) are the photo's damage report, not loose lines.
thread_local QStringList* t_warnings = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // A colour profile the decoder cannot use is no damage: the loader judges it (see note).
    if (t_warnings && type != QtFatalMsg) {
        if (qstrcmp(context.category, "qt.gui.icc") == 0)
            return;
        // Notes (libpng's "known incorrect sRGB profile") are no damage, nor worth a line.
        if ((type == QtWarningMsg || type == QtCriticalMsg) && !t_warnings->contains(text))
            t_warnings->append(text);
        return;
    }
    g_previousHandler(type, context, text);
}

class WarningCatcher {
public:
    WarningCatcher() {
        static std::once_flag installed;
        std::call_once(installed,
                       [] { g_previousHandler = qInstallMessageHandler(collectWarnings); });
        m_outer = t_warnings;
        t_warnings = &warnings;
    }
    ~WarningCatcher() { t_warnings = m_outer; }
    WarningCatcher(const WarningCatcher&) = delete;
    WarningCatcher& operator=(const WarningCatcher&) = delete;

    QStringList warnings;

private:
    QStringList* m_outer;
};

PhotoLoad failed(Problem problem, const QString& detail = QString(), QSize size = QSize()) {
    PhotoLoad out;
    out.problem = problem;
    out.detail = detail;
    out.size = size;
    return out;
}

PhotoLoad fromErrno(int error, const QString& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            // Qt spells undecodable bytes of a name as U+FFFD, which no file on disk is called.
            return failed(path.contains(QChar::ReplacementCharacter) ? Problem::BadName
                                                                     : Problem::Missing);
        case EACCES:
        case EPERM:
            return failed(Problem::PermissionDenied);
        case EISDIR:
            return failed(Problem::IsFolder);
        case ENOMEM:
            return failed(Problem::OutOfMemory);
        default:
            return failed(Problem::Unreadable, QString::fromLocal8Bit(std::strerror(error)));
    }
}

PhotoLoad notRegular(const struct stat& st) {
    return failed(S_ISDIR(st.st_mode) ? Problem::IsFolder : Problem::NotRegular);
}

// Opens `path` into `file` only when it is a regular file. A FIFO or device is refused from
// its status alone; O_NONBLOCK and the second look at the open descriptor close the window in
// which the name could be swapped for one between the two.
PhotoLoad openRegular(const QString& path, QFile* file) {
    if (path.isEmpty())
        return failed(Problem::Missing);
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return fromErrno(errno, path);
    if (!S_ISREG(st.st_mode))
        return notRegular(st);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fromErrno(errno, path);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegular(st);
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(Problem::Unreadable, file->errorString());
    }
    return PhotoLoad();
}

QString sizeAgainstLimit(QSize size, qint64 maxPixels) {
    return QStringLiteral("%1 x %2 pixels against the limit of %3 megapixels")
        .arg(size.width())
        .arg(size.height())
        .arg(double(maxPixels) / 1e6);
}

bool mentions(const QStringList& warnings, const char* words) {
    for (const QString& w : warnings)
        if (w.contains(QLatin1String(words), Qt::CaseInsensitive))
            return true;
    return false;
}

// Below Qt's threshold of 50 its JPEG reader uses the fast IDCT, plain upsampling and a fast
// squeeze: all a thumbnail needs.
constexpr int kThumbnailQuality = 25;

// The JPEG thumbnail that cameras keep in their EXIF segment (IFD1), found in `head`, the start
// of the file; empty when there is none.
QByteArray exifThumbnail(const QByteArray& head) {
    QByteArray tiff;
    for (qint64 at = 2; head.startsWith("\xFF\xD8") && at + 4 <= head.size();) {
        const int marker = quint8(head[at + 1]);
        if (quint8(head[at]) != 0xFF || (marker < 0xE0 && marker != 0xFE))
            break;  // EXIF comes among the first segments, the APPn and comments
        const int length = quint8(head[at + 2]) << 8 | quint8(head[at + 3]);
        if (marker == 0xE1 && head.mid(at + 4, 6) == QByteArray("Exif\0\0", 6)) {
            tiff = head.mid(at + 10, length - 8);
            break;
        }
        at += 2 + length;
    }
    const bool bigEndian = tiff.startsWith("MM");
    const auto number = [&](qint64 at, int bytes) -> qint64 {  // -1 when outside
        if (at < 0 || at + bytes > tiff.size())
            return -1;
        qint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= qint64(quint8(tiff[at + i])) << 8 * (bigEndian ? bytes - 1 - i : i);
        return value;
    };
    const qint64 ifd0 = number(4, 4), ifd1 = number(ifd0 + 2 + 12 * number(ifd0, 2), 4);
    qint64 offset = -1, length = -1;
    for (qint64 i = 0, count = ifd1 > 0 ? number(ifd1, 2) : 0; i < count; ++i) {
        const qint64 entry = ifd1 + 2 + 12 * i, tag = number(entry, 2),
                     value = number(entry + 8, 4);
        offset = tag == 0x0201 ? value : offset;  // both LONG
        length = tag == 0x0202 ? value : length;
    }
    return offset > 0 && length > 0 && offset + length <= tiff.size() ? tiff.mid(offset, length)
                                                                      : QByteArray();
}

// The camera's own thumbnail of the photo being read from `device`, its bars cut off, when it
// still covers `want` (both in the file's orientation); null otherwise.
QImage cameraThumbnail(QIODevice* device, const QSize& stored, const QSize& want) {
    if (device->isSequential())
        return QImage();
    const qint64 at = device->pos();
    QByteArray head;  // a file cut short keeps its thumbnail: it is decoded, so its damage shows
    if (device->seek(device->size() - 2) && device->read(2) == "\xFF\xD9" && device->seek(0))
        head = device->read(256 * 1024);
    QByteArray jpeg = device->seek(at) ? exifThumbnail(head) : QByteArray();
    if (jpeg.isEmpty())
        return QImage();
    QBuffer buffer(&jpeg);
    WarningCatcher catcher;  // its warnings are none of the photo's
    core::LibraryLines lines(&catcher.warnings);
    QImageReader reader(&buffer, "jpeg");
    const QSize size = reader.size();
    // Cameras fit a photo of another shape into the thumbnail between black bars.
    const QSize picture = stored.scaled(size, Qt::KeepAspectRatio);
    QImage image;
    if (!size.isValid() || qMax(size.width(), size.height()) > 1024 ||
        picture.width() < want.width() || picture.height() < want.height() ||
        !reader.read(&image) || !catcher.warnings.isEmpty())
        return QImage();
    return image.copy(
        QRect(QPoint((size.width() - picture.width()) / 2, (size.height() - picture.height()) / 2),
              picture));
}

// `image` turned as the photo's orientation says: mirrored first, then a quarter, keeping its
// colour space.
QImage upright(const QImage& image, QImageIOHandler::Transformations turn) {
    if (image.isNull() || turn == QImageIOHandler::TransformationNone)
        return image;
    QImage out = image.mirrored(turn & QImageIOHandler::TransformationMirror,
                                turn & QImageIOHandler::TransformationFlip);
    if (turn & QImageIOHandler::TransformationRotate90)
        out = out.transformed(QTransform().rotate(90));
    out.setColorSpace(image.colorSpace());
    return out;
}

// Metadata lies in the first segments of a photo file.
constexpr qint64 kMetaBytes = 256 * 1024;

// The colour space and the camera's description of a decoded photo.
void describe(const PhotoMeta& meta, PhotoLoad* out) {
    out->camera = meta.camera;
    if (out->image.isNull())
        return;
    bool unusable = false;
    out->image.setColorSpace(declaredColorSpace(out->image.colorSpace(), meta, &unusable));
    if (unusable)
        out->note =
            QStringLiteral("its colour profile cannot be used; its colours are read as sRGB");
}

// Decodes the photo upright, as its EXIF orientation says (a portrait shot from a camera held
// on its side comes in standing). `thumbnail`, when valid, asks for the photo squeezed to that
// upright size.
PhotoLoad decode(QIODevice* device, qint64 maxPixels, bool headerOnly,
                 const QSize& thumbnail = QSize()) {
    // The structure first: what would take the decoder minutes or gigabytes is refused, or its
    // metadata left out, before any pixel is decoded.
    const PhotoScan scan = scanPhoto(device);
    if (scan.verdict == PhotoScan::Verdict::Damaged)
        return failed(Problem::Damaged, scan.detail);
    QBuffer filtered;
    if (!scan.filtered.isEmpty()) {
        filtered.setData(scan.filtered);
        filtered.open(QIODevice::ReadOnly);
        device = &filtered;
    }
    WarningCatcher catcher;
    const PhotoMeta meta = headerOnly ? PhotoMeta() : readPhotoMeta(device->peek(kMetaBytes));
    // What libpng and libtiff print themselves: the reason when the read fails, no damage when
    // it succeeds (libtiff complains of odd tags of a sound photo).
    QStringList printed;
    core::LibraryLines lines(&printed);
    QImageReader reader(device);
    reader.setAllocationLimit(kAllocationLimitMB);
    // Turned here rather than by the reader, whose turn drops the colour space.
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return failed(Problem::NotAPhoto);
    PhotoLoad out;
    out.decodeBytesPerPixel = scan.decodeBytesPerPixel;
    // Qt's readers give no size for some headers beyond their own limits; ours still does.
    const QSize stored = reader.size().isValid() ? reader.size() : scan.size;
    const bool sideways = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    out.size = sideways ? stored.transposed() : stored;
    if (stored.isValid() && qint64(stored.width()) * stored.height() > maxPixels)
        return failed(Problem::TooLarge, sizeAgainstLimit(out.size, maxPixels), out.size);
    if (headerOnly)
        return out;
    if (thumbnail.isValid() && stored.isValid()) {  // else `size` comes from the image
        const QSize want = sideways ? thumbnail.transposed() : thumbnail;
        out.image = cameraThumbnail(device, stored, want);
        if (!out.image.isNull()) {
            out.image = upright(out.image, reader.transformation());
            return out;
        }
        // Given the final size (before the turn), Qt's JPEG reader has libjpeg decode at the
        // smallest of 1/8 .. 8/8 that still covers it, then squeezes that small image.
        reader.setQuality(kThumbnailQuality);
        reader.setScaledSize(want);
    }
    const bool read = reader.read(&out.image);
    describe(meta, &out);
    out.image = upright(out.image, reader.transformation());
    QStringList said = catcher.warnings;
    if (read && said.isEmpty())
        return out;
    said += printed;
    if (mentions(said, "out of memory"))
        return failed(Problem::OutOfMemory, QString(), out.size);
    if (mentions(said, "allocation limit"))
        return failed(Problem::TooLarge,
                      QStringLiteral("%1 x %2 pixels against the limit of %3 MB for one image")
                          .arg(out.size.width())
                          .arg(out.size.height())
                          .arg(kAllocationLimitMB),
                      out.size);
    if (!read && reader.error() == QImageReader::UnsupportedFormatError)
        return failed(Problem::NotAPhoto);
    if (!read && reader.error() == QImageReader::DeviceError)
        return failed(Problem::Unreadable, reader.errorString(), out.size);
    out.problem = Problem::Damaged;
    out.detail = said.isEmpty() ? reader.errorString() : said.join(QStringLiteral("; "));
    return out;
}

}  // namespace

PhotoLoad readPhoto(QIODevice* device, qint64 maxPixels) {
    return decode(device, maxPixels, false);
}

PhotoLoad readPhoto(const QString& path, qint64 maxPixels) {
    QFile file;
    PhotoLoad opened = openRegular(path, &file);
    return opened.ok() ? decode(&file, maxPixels, false) : opened;
}

PhotoLoad readThumbnail(QIODevice* device, const QSize& size, qint64 maxPixels) {
    PhotoLoad load = decode(device, maxPixels, false, size);
    if (!load.size.isValid() && !load.image.isNull())  // a header that gives no size
        load.size = load.image.size();
    if (!load.image.isNull())
        load.image = load.image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return load;
}

PhotoLoad readThumbnail(const QString& path, const QSize& size) {
    QFile file;
    const PhotoLoad opened = openRegular(path, &file);
    return opened.ok() ? readThumbnail(&file, size) : opened;
}

PhotoLoad readPhotoHeader(const QString& path, qint64 maxPixels) {
    QFile file;
    PhotoLoad opened = openRegular(path, &file);
    return opened.ok() ? decode(&file, maxPixels, true) : opened;
}

QString problemText(const PhotoLoad& load) {
    switch (load.problem) {
        case Problem::None:
            return QString();
        case Problem::Missing:
            return QStringLiteral("no such file");
        case Problem::PermissionDenied:
            return QStringLiteral("permission denied");
        case Problem::IsFolder:
            return QStringLiteral("is a folder, not a photo");
        case Problem::NotRegular:
            return QStringLiteral("not a regular file (a pipe, device or socket); not opened");
        case Problem::BadName:
            return QStringLiteral("its name is not valid UTF-8 text; rename the file");
        case Problem::Unreadable:
            return QStringLiteral("cannot be read: ") + load.detail;
        case Problem::NotAPhoto:
            return QStringLiteral("not a photo in a format we read (JPEG, PNG, TIFF, BMP, XPM)");
        case Problem::Damaged:
            return load.detail.isEmpty() ? QStringLiteral("damaged")
                                         : QStringLiteral("damaged: ") + load.detail;
        case Problem::TooLarge:
            return QStringLiteral("too large (%1)").arg(load.detail);
        case Problem::OutOfMemory:
            return QStringLiteral("out of memory");
    }
    return QString();
}

QImage loadPhoto(const QString& path, QString* why) {
    PhotoLoad load = readPhoto(path);
    if (why && !load.ok())
        *why = problemText(load);
    return load.image;
}

namespace {

// What identifies one version of a file; empty when it cannot be looked at.
QByteArray fileStamp(const QString& path) {
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    const qint64 fields[] = {qint64(st.st_dev),          qint64(st.st_ino),
                             qint64(st.st_size),         qint64(st.st_mtim.tv_sec),
                             qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec),
                             qint64(st.st_ctim.tv_nsec)};
    return QByteArray(reinterpret_cast<const char*>(fields), sizeof fields);
}

}  // namespace

QImage PhotoCache::load(const QString& path) {
    const QByteArray stamp = fileStamp(path);
    if (path == m_path && !stamp.isEmpty() && stamp == m_stamp && !m_image.isNull())
        return m_image;
    PhotoLoad photo = readPhoto(path);
    m_image = photo.image;
    m_camera = photo.camera;
    m_path = path;
    m_stamp = stamp;
    return m_image;
}
