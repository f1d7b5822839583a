// Thumbnails of list entries, made on worker threads so that adding a whole shoot never
// freezes the window.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <atomic>

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

class ThumbnailLoader : public QObject {
    Q_OBJECT

public:
    ThumbnailLoader();
    ~ThumbnailLoader() override;  // waits for the photo being read, drops the rest

    // Gives `item`, already in its list, the placeholder now and a thumbnail of `size` made
    // from the photo named by its text when ready. An entry removed meanwhile gets nothing; a
    // photo that cannot be read leaves the entry with an empty icon.
    void request(QListWidgetItem* item, const QSize& size);
    int pending() const { return m_pending; }

signals:
    void pendingChanged(int count);

private:
    QThreadPool m_pool;  // apart from the global pool, whose threads key the current photo
    std::atomic<bool> m_stopping{false};
    int m_pending = 0;
};
