#include "ui/thumbnails.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QHash>
#include <QImageReader>
#include <QListWidget>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QTextDocument>
#include <QtConcurrent/QtConcurrentRun>

#include "compose/layerspace.h"
#include "photo/photofile.h"
#include "ui/photonote.h"
#include "ui/plate.h"

namespace {

// Where an entry keeps the serial of its newest thumbnail request.
constexpr int kSerialRole = Qt::UserRole + 1;

// The bytes a thumbnail of `path` holds while it is made: none for JPEG, which libjpeg decodes
// straight to a reduced size, else the full decode's.
qint64 fullDecodeBytes(const QString& path) {
    if (!QFileInfo(path).isFile())  // never opens a pipe or device: it could block
        return 0;
    QImageReader reader(path);
    // Other readers that take a scaled size (PNG) decode in full and scale after.
    if (reader.format() == "jpeg")
        return 0;
    const QSize size = reader.size();
    return size.isValid() ? qint64(size.width()) * size.height() * 4 : 0;
}

}  // namespace

void DecodeBudget::take(qint64 bytes) {
    if (bytes <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    while (m_used > 0 && m_used + bytes > m_bytes)
        m_freed.wait(&m_mutex);
    m_used += bytes;
}

void DecodeBudget::give(qint64 bytes) {
    if (bytes <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    m_used -= bytes;
    m_freed.wakeAll();
}

QString entryToolTip(const QString& path, const QSize& pixels, const QString& note) {
    QString tip = path;
    if (pixels.isValid())
        tip += QStringLiteral("\n%1 × %2 pixels").arg(pixels.width()).arg(pixels.height());
    if (!note.isEmpty())
        tip += QLatin1Char('\n') + note;
    // A name that looks like markup ("<b>.jpg") is shown as it is, not rendered.
    return Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip, Qt::WhiteSpacePre) : tip;
}

QString entryLabel(const QString& path, const QFontMetrics& metrics, int room) {
    if (metrics.horizontalAdvance(path) <= room)
        return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash);  // with its slash
    const int folderRoom = room - metrics.horizontalAdvance(name);
    const QString folder = metrics.elidedText(path.left(slash), Qt::ElideMiddle, folderRoom);
    if (slash > 0 && folderRoom > 0 && !folder.isEmpty())
        return folder + name;
    return metrics.elidedText(path.mid(slash + 1), Qt::ElideMiddle, room);
}

QIcon placeholderIcon(const QSize& size) {
    // Made once per size: a shoot of a hundred photos asks for it a hundred times at once.
    static QHash<QPair<int, int>, QIcon> made;
    QIcon& icon = made[qMakePair(size.width(), size.height())];
    if (icon.isNull()) {
        QPixmap pixmap(size);
        pixmap.fill(QColor(224, 224, 224));
        QPainter p(&pixmap);
        p.setPen(QColor(190, 190, 190));
        p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
        p.end();
        icon = QIcon(pixmap);
    }
    return icon;
}

ThumbnailLoader::ThumbnailLoader(qint64 budgetBytes)
    : m_budget(budgetBytes),
      m_read([](const QString& path, const QSize& size) { return readThumbnail(path, size); }) {
    m_pool.setMaxThreadCount(2);
    m_pool.setThreadPriority(QThread::LowPriority);
}

ThumbnailLoader::~ThumbnailLoader() {
    m_stopping = true;
    m_pool.clear();
    m_pool.waitForDone();
}

void ThumbnailLoader::request(QListWidgetItem* item, const QSize& size) {
    QListWidget* list = item->listWidget();
    if (!list)
        return;
    const QString path = item->text();
    const quint64 serial = ++m_serial;
    item->setData(kSerialRole, serial);
    item->setIcon(placeholderIcon(size));
    item->setToolTip(entryToolTip(path));

    // The entry is found again through a persistent index: it follows moves and becomes invalid
    // when the entry is removed, where a pointer would dangle.
    const QPersistentModelIndex at(list->indexFromItem(item));
    const QPointer<QListWidget> owner(list);
    auto* watcher = new QFutureWatcher<PhotoLoad>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, at, owner, path, serial] {
        const PhotoLoad made = watcher->result();
        watcher->deleteLater();
        if (owner && at.isValid()) {
            QListWidgetItem* entry = owner->itemFromIndex(at);
            // A photo asked again (rewritten since) takes only its newest thumbnail.
            if (entry && entry->data(kSerialRole).toULongLong() == serial) {
                entry->setIcon(made.image.isNull()
                                   ? QIcon()
                                   : QIcon(QPixmap::fromImage(compose::forScreen(made.image))));
                entry->setToolTip(entryToolTip(path, made.size, photoProblemNote(made)));
                remarkEntry(entry);
            }
        }
        --m_pending;
        emit pendingChanged(m_pending);
    });
    ++m_pending;
    emit pendingChanged(m_pending);
    const std::atomic<bool>* stopping = &m_stopping;
    DecodeBudget* budget = &m_budget;
    watcher->setFuture(QtConcurrent::run(&m_pool, [path, size, stopping, budget, read = m_read] {
        if (*stopping)
            return PhotoLoad();
        const qint64 bytes = fullDecodeBytes(path);
        budget->take(bytes);
        PhotoLoad made = *stopping ? PhotoLoad() : read(path, size);
        budget->give(bytes);
        return made;
    }));
}
