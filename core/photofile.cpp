#include "core/photofile.h"

#include <QFileInfo>
#include <QImageReader>

namespace {
// A 100-megapixel photo decodes to 400 MB of 32-bit pixels; allow well beyond that while
// still refusing headers that claim gigapixel sizes no camera makes.
constexpr int kAllocationLimitMB = 2048;
}  // namespace

QImage loadPhoto(const QString& path, QString* why) {
    if (path.isEmpty())
        return QImage();
    QImageReader reader(path);
    reader.setAllocationLimit(kAllocationLimitMB);
    reader.setAutoTransform(true);
    QImage image;
    if (!reader.read(&image)) {
        if (why)
            *why = reader.errorString();
        return QImage();
    }
    return image;
}

QImage loadThumbnail(const QString& path, const QSize& size, QSize* pixels) {
    if (path.isEmpty() || size.isEmpty())
        return QImage();
    QImageReader reader(path);
    reader.setAllocationLimit(kAllocationLimitMB);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();  // as the file stores it, before turning upright
    const bool sideways = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    if (pixels)
        *pixels = sideways ? stored.transposed() : stored;
    // The reduced decode happens before the turn, so compare against the wanted size as stored.
    const QSize want = sideways ? size.transposed() : size;
    int divisor = 1;
    while (divisor < 8 && stored.width() / (divisor * 2) >= want.width() &&
           stored.height() / (divisor * 2) >= want.height())
        divisor *= 2;
    if (divisor > 1)
        reader.setScaledSize(QSize((stored.width() + divisor - 1) / divisor,
                                   (stored.height() + divisor - 1) / divisor));
    QImage image;
    if (!reader.read(&image))
        return QImage();
    if (pixels && !stored.isValid())  // a format whose header gives no size
        *pixels = image.size();
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QImage PhotoCache::load(const QString& path) {
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (path == m_path && size == m_size && modified == m_modified && !m_image.isNull())
        return m_image;
    m_image = loadPhoto(path);
    m_path = path;
    m_size = size;
    m_modified = modified;
    return m_image;
}
