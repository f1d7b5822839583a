#include "png/pngfile.h"

#include <QFileInfo>
#include <QSaveFile>

#include "png/pngencode.h"

namespace png {

bool writePng(const QImage& image, const QString& path, int quality, QString* error,
              bool* diskFull) {
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
    if (image.isNull())
        return fail(QStringLiteral("The image is empty."));
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    opened = true;
    QString encodeError;
    if (!encodePng(image, &file, quality, &encodeError)) {
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
