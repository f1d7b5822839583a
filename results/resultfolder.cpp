#include "results/resultfolder.h"

#include <QDir>

namespace results {

QString outputFolder(const QString& homeDir) {
    QString out = homeDir + QDir::separator() + QStringLiteral("Documents");
    QDir().mkpath(out + QDir::separator() + QStringLiteral("Verdalux"));
    QDir dir(out);
    dir.cd(QStringLiteral("Verdalux"));
    return dir.absolutePath();
}

}  // namespace results
