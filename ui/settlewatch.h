// Files still being written: the hot folder hears of a photo when it appears, often before
// the camera or the copy has finished it. This watch says when such a file has settled.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class SettleWatch : public QObject {
    Q_OBJECT

public:
    explicit SettleWatch(QObject* parent = nullptr);

    // How long size and modification time must stay unchanged; tests shorten it.
    static int settleMs;

    // Starts watching `path` as it is now. Each file has its own settle time: files arriving
    // one after another never hold back those that came before.
    void watch(const QString& path);

signals:
    // `path` stopped changing, and differs from what it was when watched.
    void settled(const QString& path);

private:
    void poll();

    struct Seen {
        QByteArray first;
        QByteArray last;
        QElapsedTimer still;  // since `last` was first seen
    };
    QHash<QString, Seen> m_files;
    QTimer m_timer;
};
