#include "formats/result.h"

#include "formats/exifblock.h"
#include "formats/jpegencode.h"
#include "formats/tiffencode.h"
#include "png/pngencode.h"
#include "png/pngfile.h"

namespace formats {

QString formatName(Format f) {
    switch (f) {
        case Format::Png:
            return QStringLiteral("png");
        case Format::Jpeg:
            return QStringLiteral("jpeg");
        case Format::Tiff:
            return QStringLiteral("tiff");
    }
    return QString();
}

bool formatNamed(const QString& name, Format* out) {
    for (const Format f : {Format::Png, Format::Jpeg, Format::Tiff}) {
        if (name == formatName(f)) {
            *out = f;
            return true;
        }
    }
    return false;
}

QString suffix(Format f) {
    switch (f) {
        case Format::Png:
            return QStringLiteral("png");
        case Format::Jpeg:
            return QStringLiteral("jpg");
        case Format::Tiff:
            return QStringLiteral("tif");
    }
    return QString();
}

int defaultQuality(Format f) {
    return f == Format::Jpeg ? 92 : 100;
}

bool keepsAlpha(Format f) {
    return f != Format::Jpeg;
}

QString resultFileName(const QString& folder, const QString& foreground, Format f) {
    // The PNG's name, whose stem rule every format shares, with the format's suffix.
    QString name = png::compositeFileName(folder, foreground);
    name.chop(3);
    return name + suffix(f);
}

bool writeResult(const QImage& image, const CameraInfo& camera, const QString& path, Format f,
                 int quality, QString* error, bool* diskFull) {
    const auto encode = [&](QIODevice* out, QString* why) {
        switch (f) {
            case Format::Png:
                return png::encodePng(image, out, quality, why,
                                      exifBlock(camera, exifImageOf(image, false)));
            case Format::Jpeg:
                return encodeJpeg(image, camera, quality, out, why);
            case Format::Tiff:
                return encodeTiff(image, camera, out, why);
        }
        return false;
    };
    if (image.isNull()) {
        if (diskFull)
            *diskFull = false;
        if (error)
            *error = QStringLiteral("The image is empty.");
        return false;
    }
    return png::writeWhole(path, encode, error, diskFull);
}

}  // namespace formats
