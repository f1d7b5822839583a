// Thumbnails of list entries, made on worker threads so that adding a whole shoot never
// freezes the window.
#pragma once

#include <QIcon>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <QWaitCondition>
#include <atomic>
#include <functional>

#include "core/photofile.h"

class QFontMetrics;
class QListWidgetItem;

// The tooltip of a list entry: the full path and, once the thumbnail is made, the photo's
// upright pixel size and what went wrong reading it ("Damaged: ...").
QString entryToolTip(const QString& path, const QSize& pixels = QSize(),
                     const QString& note = QString());

// What an entry shows of `path` in `room` pixels: the whole path when it fits, else the
// folders elided in the middle before the file name ("/home/ann/…/IMG_0042.JPG"), else the
// file name alone elided in the middle ("IMG…042.JPG").
QString entryLabel(const QString& path, const QFontMetrics& metrics, int room);

// The neutral stand-in that an entry shows until its thumbnail is made.
QIcon placeholderIcon(const QSize& size);

// How many bytes of full-size photos the thumbnail threads may hold at once. A format that
// decodes straight to a reduced size (JPEG) needs no share of it; a photo that alone needs more
// than the whole budget is decoded when nothing else is.
class DecodeBudget {
public:
    explicit DecodeBudget(qint64 bytes) : m_bytes(bytes) {}
    void take(qint64 bytes);  // blocks until `bytes` fit
    void give(qint64 bytes);

private:
    const qint64 m_bytes;
    qint64 m_used = 0;
    QMutex m_mutex;
    QWaitCondition m_freed;
};

class ThumbnailLoader : public QObject {
    Q_OBJECT

public:
    using Reader = std::function<PhotoLoad(const QString& path, const QSize& size)>;
    // Two low-priority threads, so that the keying of the current photo keeps the cores.
    explicit ThumbnailLoader(qint64 budgetBytes = qint64(256) << 20);
    ~ThumbnailLoader() override;  // drops the pending thumbnails, waits for those being read

    // Gives `item`, already in its list, the placeholder now and a thumbnail of `size` made
    // from the photo named by its text when ready. Only the newest request of an entry sets its
    // icon; an entry removed meanwhile gets nothing; a photo that cannot be read leaves the
    // entry with an empty icon.
    void request(QListWidgetItem* item, const QSize& size);
    int pending() const { return m_pending; }

    // Replaces the photo reader (readThumbnail), for tests.
    void setReader(Reader reader) { m_read = std::move(reader); }

signals:
    void pendingChanged(int count);

private:
    QThreadPool m_pool;  // apart from the global pool, whose threads key the current photo
    DecodeBudget m_budget;
    Reader m_read;
    std::atomic<bool> m_stopping{false};
    int m_pending = 0;
    quint64 m_serial = 0;
};
