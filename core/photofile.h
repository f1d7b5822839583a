// Reading photo files: the one place where every part of the program decodes a photo.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include "core/photometa.h"

class QIODevice;

// Headers that claim more pixels than this are refused before any pixel is decoded.
constexpr qint64 kDefaultMaxPixels = 250'000'000;

// What reading a photo gave: the image, or why there is none, or why it is incomplete.
struct PhotoLoad {
    enum class Problem {
        None,
        Missing,
        PermissionDenied,
        IsFolder,
        NotRegular,  // a FIFO, device or socket: never opened, it could block for good
        BadName,     // the name is not valid UTF-8, so it cannot be spelt back to the system
        Unreadable,  // the system refused to read it (detail: its words)
        NotAPhoto,
        Damaged,  // `image` holds what did decode (maybe null)
        TooLarge,
        OutOfMemory,
    };
    QImage image;
    Problem problem = Problem::None;
    QString detail;  // the decoder's words, or the size against the limit
    QSize size;      // upright, from the header, when it was read
    CameraInfo camera;
    QString note;  // worth telling, though the photo is usable: a colour profile that is not
    // The decoder's peak bytes a pixel, its image included (from the header; 4 when unknown).
    double decodeBytesPerPixel = 4;

    bool ok() const { return problem == Problem::None; }
};

// Decodes the photo at `path`, the format detected from its contents, turned upright as its
// EXIF orientation says, its colorSpace() the one it declares (see declaredColorSpace). Only
// regular files are opened. Warnings of the decoder mark the photo as damaged instead of reaching
// stderr.
PhotoLoad readPhoto(const QString& path, qint64 maxPixels = kDefaultMaxPixels);

// The same from an open device (for example a QBuffer).
PhotoLoad readPhoto(QIODevice* device, qint64 maxPixels = kDefaultMaxPixels);

// A small upright picture of the photo at `path`, squeezed to exactly `size` (proportions
// ignored), with `size` set to the photo's upright pixel size. It is the camera's own EXIF
// thumbnail when that covers `size` and the file is complete; else JPEG files are decoded at
// the smallest scale down to 1/8 that still covers `size`, a fraction of a full decode.
PhotoLoad readThumbnail(const QString& path, const QSize& size);

// The same from an open device.
PhotoLoad readThumbnail(QIODevice* device, const QSize& size, qint64 maxPixels = kDefaultMaxPixels);

// Reads only the header: `size` is set, or `problem` says why the photo cannot be read.
PhotoLoad readPhotoHeader(const QString& path, qint64 maxPixels = kDefaultMaxPixels);

// The problem in a photographer's words, without the file name ("damaged: ...").
QString problemText(const PhotoLoad& load);

// The image of readPhoto (a damaged photo as far as it decodes), the problem text in `why`.
QImage loadPhoto(const QString& path, QString* why = nullptr);

// Keeps the last decoded photo, so that asking again for an unchanged file costs nothing.
// A file counts as changed when its inode, size, modification or status-change time differs,
// so a same-size replacement that keeps the modification time is read again too.
class PhotoCache {
public:
    QImage load(const QString& path);
    // The camera's description of the last photo loaded.
    const CameraInfo& camera() const { return m_camera; }
    void clear() {
        m_image = QImage();
        m_camera = CameraInfo();
        m_path.clear();
    }

private:
    QString m_path;
    QByteArray m_stamp;
    QImage m_image;
    CameraInfo m_camera;
};
