#include "ui/batchsettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace {

const char* scaleName(compose::BackgroundScale s) {
    switch (s) {
        case compose::BackgroundScale::Fit:
            return "fit";
        case compose::BackgroundScale::Actual:
            return "actual";
        case compose::BackgroundScale::Fill:
            return "fill";
    }
    return "fit";
}

}  // namespace

QString batchSettingsText(const RefreshRequest& r) {
    // QSettings writes the file, so that its quoting and escaping of paths are exactly what
    // QSettings reads back in the batch tool.
    QTemporaryDir dir;
    if (!dir.isValid())
        return QString();
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue(QStringLiteral("magic"), r.key.magic);
        s.setValue(QStringLiteral("fine"), r.key.fine);
        s.setValue(QStringLiteral("coarse"), r.key.coarse);
        s.setValue(QStringLiteral("spill"), r.key.spill);
        s.setValue(QStringLiteral("correct-spill"), r.key.correctSpill);
        s.setValue(QStringLiteral("blue"), r.key.backdrop == keying::Backdrop::Blue);
        s.setValue(QStringLiteral("rotation"), r.rotation);
        s.setValue(QStringLiteral("transparent"), r.transparent);
        if (!r.transparent && !r.background.isEmpty())
            s.setValue(QStringLiteral("background"), r.background);
        s.setValue(QStringLiteral("canvas"), r.compose.canvas == compose::Canvas::Foreground
                                                 ? QStringLiteral("foreground")
                                                 : QStringLiteral("background"));
        s.setValue(QStringLiteral("align"), r.compose.align == compose::Align::Center
                                                ? QStringLiteral("center")
                                                : QStringLiteral("top-left"));
        s.setValue(QStringLiteral("bg-scale"), QString::fromLatin1(scaleName(r.compose.bgScale)));
        s.setValue(QStringLiteral("fg-size"), r.compose.fgSize);
        s.setValue(QStringLiteral("offset"),
                   QStringLiteral("%1,%2").arg(r.offset.x()).arg(r.offset.y()));
        if (!r.overlay.isEmpty())
            s.setValue(QStringLiteral("overlay"), r.overlay);
        // The window keys against the plate with Magic Number 10 only.
        if (!r.plate.isEmpty() && r.key.magic == 10) {
            s.setValue(QStringLiteral("plate"), r.plate);
            s.setValue(QStringLiteral("keep-shadows"), r.key.keepShadows);
        }
        s.sync();
        if (s.status() != QSettings::NoError)
            return QString();
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
