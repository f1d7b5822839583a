#include "png/pngfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <utility>

#include "png/pngencode.h"

namespace png {

QString compositeFileName(const QString& folder, const QString& foreground) {
    // A name with no stem (".hidden.jpg") keeps its leading dots, so its result is not ".png".
    const QString name = QFileInfo(foreground).fileName();
    qsizetype dots = 0;
    while (dots < name.size() && name[dots] == QLatin1Char('.'))
        ++dots;
    const QString stem = name.left(dots) + QFileInfo(name.mid(dots)).baseName();
    return folder + QLatin1Char('/') + stem + QStringLiteral(".png");
}

namespace {

QString systemWords(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// An open descriptor closed on every way out.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// A temporary name of its own, short so that it fits beside any name the folder allows.
QByteArray temporaryName() {
    return QByteArray(".mattora-") +
           QByteArray::number(QRandomGenerator::system()->generate(), 36) + QByteArray(".tmp");
}

}  // namespace

bool writePng(const QImage& image, const QString& path, int quality, QString* error,
              bool* diskFull) {
    if (image.isNull()) {
        if (diskFull)
            *diskFull = false;
        if (error)
            *error = QStringLiteral("The image is empty.");
        return false;
    }
    return writeWhole(
        path, [&](QIODevice* out, QString* why) { return encodePng(image, out, quality, why); },
        error, diskFull);
}

bool writeWhole(const QString& path, const Encode& encode, QString* error, bool* diskFull) {
    if (diskFull)
        *diskFull = false;
    auto fail = [&](const QString& why, int errnum = 0) {
        if (diskFull && (errnum == ENOSPC || errnum == EDQUOT))
            *diskFull = true;
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty() || name == "." || name == "..")
        return fail(QStringLiteral("It is not a file name."));

    // Everything happens relative to the folder opened once, so the folder cannot be swapped
    // between the checks and the rename.
    Fd dir(::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return fail(systemWords(errno), errno);

    // What lies at the name now. A link is replaced by the rename, never followed; a folder or
    // a device, pipe or socket is no earlier result, so it is left alone.
    struct stat existing;
    mode_t mode = 0666;
    bool replacing = false;
    if (::fstatat(dir.get(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode))
            return fail(QStringLiteral("A folder of that name is in the way."));
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
            return fail(
                QStringLiteral("A file of that name is in the way that is not a regular "
                               "file (a pipe, device or socket)."));
        if (S_ISREG(existing.st_mode)) {
            // A result made read-only is kept, as it was meant to be.
            if (::faccessat(dir.get(), name.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
                return fail(QStringLiteral("The existing file is read-only."));
            mode = existing.st_mode & 0777;
            replacing = true;
        }
    } else if (errno != ENOENT) {
        return fail(systemWords(errno), errno);
    }

    QByteArray temp;
    Fd fd;
    for (int attempt = 0; attempt < 16 && fd.get() < 0; ++attempt) {
        temp = temporaryName();
        fd.reset(::openat(dir.get(), temp.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno != EEXIST)
            return fail(systemWords(errno), errno);
    }
    if (fd.get() < 0)
        return fail(systemWords(EEXIST), EEXIST);
    auto discard = [&](const QString& why, int errnum) {
        ::unlinkat(dir.get(), temp.constData(), 0);
        return fail(why, errnum);
    };
    // The replaced file's permissions carry over (without set-id bits); a new file gets the
    // umask's.
    if (replacing && ::fchmod(fd.get(), mode) != 0)
        return discard(systemWords(errno), errno);

    QFile file;
    if (!file.open(fd.release(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return discard(file.errorString(), 0);
    QString encodeError;
    errno = 0;
    if (!encode(&file, &encodeError) || !file.flush()) {
        const int errnum = errno;
        const bool deviceFailed = file.error() != QFileDevice::NoError;
        const bool full = deviceFailed && file.error() == QFileDevice::ResourceError;
        return discard(deviceFailed ? file.errorString() : encodeError, full ? ENOSPC : errnum);
    }
    // The data is on disk before the name points at it, so a crash leaves the old file or the
    // new one, never an empty one.
    if (::fsync(file.handle()) != 0)
        return discard(systemWords(errno), errno);
    file.close();
    if (::renameat(dir.get(), temp.constData(), dir.get(), name.constData()) != 0)
        return discard(systemWords(errno), errno);
    ::fsync(dir.get());
    return true;
}

}  // namespace png
