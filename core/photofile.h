// Reading photo files: the one place where every part of the program decodes a photo.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

// Decodes the photo at `path`, the format detected from its contents, turned upright as its
// EXIF orientation says (a portrait shot from a camera held on its side comes in standing).
// Photos up to several hundred megapixels load; a file that is missing, unreadable, or whose
// header claims an absurd size gives a null image, and the reason in `why` when given.
QImage loadPhoto(const QString& path, QString* why = nullptr);

// A small upright picture of the photo at `path`, squeezed to exactly `size` (proportions
// ignored). JPEG files are decoded at 1/2, 1/4 or 1/8 of their size, which costs a fraction
// of a full decode. `pixels` receives the photo's upright size read from its header. A photo
// that cannot be read gives a null image.
QImage loadThumbnail(const QString& path, const QSize& size, QSize* pixels = nullptr);

// Keeps the last decoded photo, so that asking again for an unchanged file costs nothing.
// A file counts as changed when its size or modification time differs.
class PhotoCache {
public:
    QImage load(const QString& path);
    void clear() {
        m_image = QImage();
        m_path.clear();
    }

private:
    QString m_path;
    qint64 m_size = -1;
    QDateTime m_modified;
    QImage m_image;
};
