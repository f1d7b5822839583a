// Reading photo files: the one place where every part of the program decodes a photo.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

// Decodes the photo at `path`, the format detected from its contents. Photos up to several
// hundred megapixels load; a file that is missing, unreadable, or whose header claims an
// absurd size gives a null image, and the reason in `why` when given.
QImage loadPhoto(const QString& path, QString* why = nullptr);

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
