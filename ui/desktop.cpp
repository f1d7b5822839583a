#include "ui/desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

#include "core/startup.h"

namespace {

// The desktop's opener hands the request on and returns; one that does not (no handler
// installed, a viewer that stays in the foreground) must not freeze the window.
constexpr int kOpenWaitMs = 5000;

void openWithDesktop(const QString& path) {
#ifdef Q_OS_MACOS
    const QString program = QStringLiteral("open");
#else
    const QString program = QStringLiteral("xdg-open");
#endif
    // Started directly, never through a shell: the path stays one argument whatever it holds.
    auto* process = new QProcess(QCoreApplication::instance());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart)
                             process->deleteLater();
                     });
    // The desktop's programs get the user's environment, not the settings we made for
    // ourselves (font resolution, malloc tunables).
    process->setProcessEnvironment(startup::childEnvironment());
    process->start(program, {path});
    process->waitForFinished(kOpenWaitMs);
}

Desktop realDesktop() {
    Desktop d;
    d.chooseFiles = [](QWidget* parent, const QString& caption, const QString& folder,
                       const QString& filter) {
        return QFileDialog::getOpenFileNames(parent, caption, folder, filter);
    };
    d.chooseFolder = [](QWidget* parent, const QString& caption, const QString& folder) {
        return QFileDialog::getExistingDirectory(
            parent, caption, folder, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    };
    d.open = openWithDesktop;
    d.warn = [](QWidget* parent, const QString& title, const QString& text) {
        // File names are shown as they are, never read as markup.
        QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    return d;
}

}  // namespace

Desktop& desktop() {
    static Desktop d = realDesktop();
    return d;
}

void resetDesktop() {
    desktop() = realDesktop();
}

QString photoFolder() {
#ifdef Q_OS_MACOS
    return QStringLiteral("/Users");
#else
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QDir(pictures).exists())
        return pictures;
    return QDir::homePath();
#endif
}
