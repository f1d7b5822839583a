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
    QImage image;
    if (!reader.read(&image)) {
        if (why)
            *why = reader.errorString();
        return QImage();
    }
    return image;
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
