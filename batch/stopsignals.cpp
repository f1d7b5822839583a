#include "batch/stopsignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStringList>
#include <thread>

namespace batch {

namespace {

QMutex g_lock;
QString g_outputDir;

}  // namespace

QStringList filesBeingWritten(const QString& folder) {
    QStringList out;
    const QString dir = QFileInfo(folder).canonicalFilePath();
    if (dir.isEmpty())
        return out;
    const QStringList fds =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& fd : fds) {
        const QString target = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/") + fd);
        if (!target.startsWith(dir + QLatin1Char('/')))
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n')) {
            bool ok = false;
            const int flags = line.startsWith("flags:") ? line.mid(6).trimmed().toInt(&ok, 8) : 0;
            if (ok && (flags & O_ACCMODE) != O_RDONLY)
                out << target;
        }
    }
    return out;
}

void setOutputFolder(const QString& outputDir) {
    QMutexLocker lock(&g_lock);
    g_outputDir = outputDir;
}

void handleStopSignals(std::atomic<bool>* stop, std::atomic<int>* signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Every thread started from here on inherits the mask; only the one below takes them. A
    // signal ignored since the program began (a background job of a shell) would never come.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, stop, signal] {
        for (int seen = 0;;) {
            int number = 0;
            if (sigwait(&set, &number) != 0)
                continue;
            if (seen++ == 0) {
                *signal = number;
                *stop = true;
                continue;
            }
            // A temporary file is removed while still open: nothing can finish it any more.
            QString dir;
            {
                QMutexLocker lock(&g_lock);
                dir = g_outputDir;
            }
            for (const QString& file : filesBeingWritten(dir))
                ::unlink(QFile::encodeName(file).constData());
            ::_exit(128 + *signal);
        }
    }).detach();
}

}  // namespace batch
