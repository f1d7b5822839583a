// Lines that the decoders' libraries print to stderr on their own (libpng's errors, libtiff's
// messages), caught on the thread that prints them so that they become a photo's reason.
#pragma once

#include <QStringList>

namespace core {

// While it lives, what this thread prints to stderr goes into `into`, a line an entry; other
// threads' output goes to stderr as before.
class LibraryLines {
public:
    explicit LibraryLines(QStringList* into);
    ~LibraryLines();
    LibraryLines(const LibraryLines&) = delete;
    LibraryLines& operator=(const LibraryLines&) = delete;

private:
    QStringList* m_outer;
};

}  // namespace core
