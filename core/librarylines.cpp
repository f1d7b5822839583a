#include "core/librarylines.h"

#include <sys/types.h>

#include <QByteArray>
#include <cstdio>
#include <mutex>
#include <utility>

namespace core {

namespace {

thread_local QStringList* t_into = nullptr;
thread_local QByteArray t_partial;  // a line printed in pieces, until its end
std::FILE* g_stderr = nullptr;      // the process's own, where every other line still goes

void keepLine(QByteArray line) {
    // libpng marks its own lines; the words after the mark are the reason.
    for (const char* mark : {"libpng error: ", "libpng warning: "})
        if (line.startsWith(mark))
            line = line.mid(qsizetype(qstrlen(mark)));
    // Qt's TIFF reader names every file "foo" to libtiff.
    line.replace(": foo: ", ": ");
    const QString text = QString::fromLocal8Bit(line.trimmed());
    if (!text.isEmpty() && !t_into->contains(text))
        t_into->append(text);
}

ssize_t write(void*, const char* data, size_t size) {
    if (!t_into) {
        std::fwrite(data, 1, size, g_stderr);
        std::fflush(g_stderr);
        return ssize_t(size);
    }
    t_partial.append(data, qsizetype(size));
    for (qsizetype end; (end = t_partial.indexOf('\n')) >= 0;) {
        keepLine(t_partial.left(end));
        t_partial.remove(0, end + 1);
    }
    return ssize_t(size);
}

// stderr becomes a stream of ours, unbuffered so that each piece arrives on its own thread.
void install() {
    cookie_io_functions_t io{};
    io.write = write;
    std::FILE* ours = fopencookie(nullptr, "w", io);
    if (!ours)
        return;
    std::setvbuf(ours, nullptr, _IONBF, 0);
    g_stderr = stderr;
    stderr = ours;
}

}  // namespace

LibraryLines::LibraryLines(QStringList* into) : m_outer(t_into) {
    static std::once_flag installed;
    std::call_once(installed, install);
    t_into = into;
}

LibraryLines::~LibraryLines() {
    if (!t_partial.isEmpty())
        keepLine(std::exchange(t_partial, QByteArray()));
    t_into = m_outer;
}

}  // namespace core
