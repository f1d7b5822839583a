#include "ui/thumbnails.h"

#include <QFontMetrics>
#include <QFutureWatcher>
#include <QListWidget>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QTextDocument>
#include <QtConcurrent/QtConcurrentRun>

#include "core/photofile.h"
#include "ui/photonote.h"
#include "ui/plate.h"

namespace {}  // namespace

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
    QPixmap pixmap(size);
    pixmap.fill(QColor(224, 224, 224));
    QPainter p(&pixmap);
    p.setPen(QColor(190, 190, 190));
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

ThumbnailLoader::ThumbnailLoader() = default;

ThumbnailLoader::~ThumbnailLoader() {
    m_stopping = true;
    m_pool.waitForDone();
}

void ThumbnailLoader::request(QListWidgetItem* item, const QSize& size) {
    QListWidget* list = item->listWidget();
    if (!list)
        return;
    const QString path = item->text();
    item->setIcon(placeholderIcon(size));
    item->setToolTip(entryToolTip(path));

    // The entry is found again through a persistent index: it follows moves and becomes invalid
    // when the entry is removed, where a pointer would dangle.
    const QPersistentModelIndex at(list->indexFromItem(item));
    const QPointer<QListWidget> owner(list);
    auto* watcher = new QFutureWatcher<PhotoLoad>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, at, owner, path] {
        const PhotoLoad made = watcher->result();
        watcher->deleteLater();
        if (owner && at.isValid()) {
            if (QListWidgetItem* entry = owner->itemFromIndex(at)) {
                entry->setIcon(made.image.isNull() ? QIcon()
                                                   : QIcon(QPixmap::fromImage(made.image)));
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
    watcher->setFuture(QtConcurrent::run(&m_pool, [path, size, stopping] {
        return *stopping ? PhotoLoad() : readThumbnail(path, size);
    }));
}
