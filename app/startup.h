// The window program's start-up steps that do not need the window: the log, the folder of the
// sample photos (beside the program, out of a macOS bundle, or installed), and the environment
// of the programs it starts.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

namespace startup {

// Empties and opens `log` for writing. Refuses (and leaves `log` closed) when the path is a
// symbolic link, not a regular file, owned by another user, or has further hard links: the
// log lives in a shared folder, and truncating through such a path would destroy someone
// else's file. Returns whether the log is open.
bool openLog(QFile& log);

// Folder that holds the sample photos: beside the executable, or, inside a macOS
// application bundle, the folder that contains the bundle; failing that, the installed
// ../share/mattora.
QString applicationFolder(const QString& executableDir);

// Sets an environment variable for this process alone: childEnvironment() remembers the
// value the user had (or that there was none) and gives children that one.
void setOwnVariable(const char* name, const QByteArray& value);

// The environment for programs we start: the user's, without what setOwnVariable changed.
QProcessEnvironment childEnvironment();

}  // namespace startup
