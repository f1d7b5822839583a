#include "png/pngfile.h"

#include <QFileInfo>
#include <QSaveFile>

#include "png/pngencode.h"

namespace png {

QString compositeFileName(const QString& folder, const QString& foreground) {
    return folder + QLatin1Char('/') + QFileInfo(foreground).baseName() + QStringLiteral(".png");
}

bool writePng(const QImage& image, const QString& path, int quality, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("The image is empty."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QString encodeError;
    if (!encodePng(image, &file, quality, &encodeError)) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : encodeError;
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

}  // namespace png
