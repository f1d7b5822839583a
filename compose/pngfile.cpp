#include "compose/pngfile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include "compose/pngencode.h"

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
        return fail(QCoreApplication::translate("Dialog", "There is no composite to save yet."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QString encodeError;
    if (!compose::encodePng(image, &file, quality, &encodeError)) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : encodeError;
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
