// Where results go when no folder is given: the window's saves and the batch tool's default.
#pragma once

#include <QString>

namespace results {

// "<home>/Documents/Verdalux", created with its missing parents. If it can neither be created
// nor entered, the absolute path of "<home>/Documents".
QString outputFolder(const QString& homeDir);

}  // namespace results
