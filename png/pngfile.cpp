#include "png/pngfile.h"

#include <QFileInfo>
#include <QSaveFile>

#include "png/pngencode.h"

namespace png {

QString compositeFileName(const QString& folder, const QString& foreground) {
    return folder + QLatin1Char('/') + QFileInfo(foreground).baseName() + QStringLiteral(".png");
}

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
    QSaveFile file(path);
    bool opened = false;
    if (diskFull)
        *diskFull = false;
    auto fail = [&](const QString& why) {
        // Once the file is open, Qt reports a write refused with ENOSPC as a resource error.
        if (diskFull && opened && file.error() == QFileDevice::ResourceError)
            *diskFull = true;
        if (error)
            *error = why;
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    opened = true;
    QString encodeError;
    if (!encode(&file, &encodeError)) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : encodeError;
        fail(why);
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

}  // namespace png
