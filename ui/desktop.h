// What the window asks of the desktop: file and folder choosers, showing a file or folder, and
// telling the user of a failure. One replaceable table, so tests can stand in for the desktop.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

struct Desktop {
    // Several existing files; empty when cancelled.
    std::function<QStringList(QWidget* parent, const QString& caption, const QString& folder,
                              const QString& filter)>
        chooseFiles;
    // A file to write (it may exist: the chooser asks before it is replaced); empty when
    // cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& folder,
                          const QString& filter)>
        chooseSaveFile;
    // One folder; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& folder)>
        chooseFolder;
    // Shows a folder in the file browser or a file in its default viewer, without waiting;
    // when nothing on the desktop can, the user is told where it is.
    std::function<void(const QString& path)> open;
    // Tells the user that something they asked for failed.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> warn;
};

// The desktop the window uses; tests may assign their own members.
Desktop& desktop();

// Restores the real desktop.
void resetDesktop();

// Where the file choosers start: the user's Pictures folder, or home.
QString photoFolder();
