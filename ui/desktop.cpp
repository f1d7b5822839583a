#include "ui/desktop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "app/startup.h"

namespace {

// An opener that ends with an error this soon failed to show the path; one that ends later
// has handed it to a program (some openers wait for the viewer) whose exit says nothing.
constexpr int kOpenerVerdictMs = 10000;

// Paths nothing could show, told together: Save Image opens a folder and a file at once.
QStringList& unshown() {
    static QStringList paths;
    return paths;
}

void tellUnshown(const QString& path) {
    if (unshown().isEmpty())
        QTimer::singleShot(0, QCoreApplication::instance(), [] {
            const QStringList paths = unshown();
            unshown().clear();
            QStringList lines;
            for (const QString& p : paths)
                lines << QDir::toNativeSeparators(p);
            desktop().warn(QApplication::activeWindow(), QStringLiteral("Mattora"),
                           QCoreApplication::translate(
                               "Dialog",
                               "No program of the desktop could be started to show:\n%1\n\n"
                               "Open it from there with a file manager or viewer of your own.")
                               .arg(lines.join(QLatin1Char('\n'))));
        });
    if (!unshown().contains(path))
        unshown() << path;
}

void openWithDesktop(const QString& path) {
#ifdef Q_OS_MACOS
    const QString program = QStringLiteral("open");
#else
    const QString program = QStringLiteral("xdg-open");
#endif
    // Started directly, never through a shell: the path stays one argument whatever it holds.
    // Never waited for: the window goes on at once. Not a child of anything either, so that
    // quitting the program never stops an opener that is still handing the path on.
    auto* process = new QProcess();
    QElapsedTimer* started = new QElapsedTimer();
    started->start();
    const auto done = [process, started] {
        delete started;
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, started, path, done](int code, QProcess::ExitStatus status) {
                         if ((code != 0 || status != QProcess::NormalExit) &&
                             started->elapsed() < kOpenerVerdictMs)
                             tellUnshown(path);
                         done();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [path, done](QProcess::ProcessError e) {
                         if (e != QProcess::FailedToStart)
                             return;
                         tellUnshown(path);
                         done();
                     });
    // The desktop's programs get the user's environment, not the settings we made for
    // ourselves (font resolution, malloc tunables).
    process->setProcessEnvironment(startup::childEnvironment());
    process->start(program, {path});
}

Desktop realDesktop() {
    Desktop d;
    d.chooseFiles = [](QWidget* parent, const QString& caption, const QString& folder,
                       const QString& filter) {
        return QFileDialog::getOpenFileNames(parent, caption, folder, filter);
    };
    d.chooseSaveFile = [](QWidget* parent, const QString& caption, const QString& folder,
                          const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, folder, filter);
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
