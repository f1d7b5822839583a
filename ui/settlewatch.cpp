#include "ui/settlewatch.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

int SettleWatch::settleMs = 1000;

namespace {

// Size and modification time; empty when the file is gone.
QByteArray stamp(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QByteArray();
    return QByteArray::number(info.size()) + '/' +
           QByteArray::number(info.lastModified().toMSecsSinceEpoch());
}

}  // namespace

SettleWatch::SettleWatch(QObject* parent) : QObject(parent) {
    connect(&m_timer, &QTimer::timeout, this, &SettleWatch::poll);
}

void SettleWatch::watch(const QString& path) {
    const QByteArray now = stamp(path);
    Seen& seen = m_files[path];
    seen.first = seen.last = now;
    seen.still.start();
    // Looked at a few times per settle time, so each file settles close to its own time.
    if (!m_timer.isActive())
        m_timer.start(std::max(10, settleMs / 4));
}

void SettleWatch::poll() {
    QStringList done;
    for (auto it = m_files.begin(); it != m_files.end();) {
        const QByteArray now = stamp(it.key());
        if (now.isEmpty()) {
            it = m_files.erase(it);
        } else if (now != it->last) {
            it->last = now;
            it->still.restart();
            ++it;
        } else if (it->still.elapsed() >= settleMs) {
            if (now != it->first)
                done << it.key();
            it = m_files.erase(it);
        } else {
            ++it;
        }
    }
    if (m_files.isEmpty())
        m_timer.stop();
    for (const QString& path : done)
        emit settled(path);
}
