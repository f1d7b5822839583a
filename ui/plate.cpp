#include "ui/plate.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "keying/photoframe.h"

namespace {

constexpr int kPlateRole = Qt::UserRole + 40;      // bool: the entry is the plate
constexpr int kNoteRole = Qt::UserRole + 41;       // QString: what the plate did for this shot
constexpr int kPlainIconRole = Qt::UserRole + 42;  // QIcon: the icon without the mark
constexpr int kMarkedRole = Qt::UserRole + 43;     // bool: the icon shown bears the mark

const QString kPlateLine =
    QStringLiteral("Backdrop plate: Magic Number 10 keys the other shots against it");

QString sizeText(const QSize& s) {
    return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height());
}

// The thumbnail with a small mark in its lower right corner: a white plate on dark.
QIcon markedIcon(const QIcon& plain) {
    QPixmap pm = plain.pixmap(QSize(74, 64));
    if (pm.isNull()) {
        pm = QPixmap(74, 64);
        pm.fill(Qt::transparent);
    }
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(pm.width() - 22, pm.height() - 18, 20, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 190));
    p.drawRoundedRect(badge, 3, 3);
    p.setBrush(Qt::white);
    p.drawRect(badge.adjusted(4, 4, -4, -4));
    return QIcon(pm);
}

// The tooltip without the lines this file adds.
QString plainToolTip(const QListWidgetItem* item) {
    QStringList lines = item->toolTip().split(QLatin1Char('\n'));
    const QString note = item->data(kNoteRole).toString();
    lines.removeAll(kPlateLine);
    if (!note.isEmpty())
        lines.removeAll(note);
    return lines.join(QLatin1Char('\n'));
}

// The tooltip's lines and the icon's mark as the entry's roles say; `iconIsNew`: the icon
// shown was just set, without the mark.
void applyMarks(QListWidgetItem* item, bool iconIsNew) {
    const bool plate = item->data(kPlateRole).toBool();
    const QString note = item->data(kNoteRole).toString();
    QStringList lines{plainToolTip(item)};
    if (plate)
        lines << kPlateLine;
    if (!note.isEmpty())
        lines << note;
    item->setToolTip(lines.join(QLatin1Char('\n')));
    if (iconIsNew)
        item->setData(kMarkedRole, false);
    if (plate && !item->data(kMarkedRole).toBool()) {
        item->setData(kPlainIconRole, item->icon());
        item->setData(kMarkedRole, true);
        item->setIcon(markedIcon(item->icon()));
    } else if (!plate && item->data(kMarkedRole).toBool()) {
        item->setIcon(item->data(kPlainIconRole).value<QIcon>());
        item->setData(kMarkedRole, false);
    }
}

void markEntry(QListWidgetItem* item, bool plate) {
    if (item->data(kPlateRole).toBool() == plate)
        return;
    const QString tip = plainToolTip(item);
    item->setData(kPlateRole, plate);
    item->setToolTip(tip);
    applyMarks(item, false);
}

}  // namespace

void remarkEntry(QListWidgetItem* item) {
    applyMarks(item, true);
}

void setPlateNote(QListWidgetItem* item, const QString& note) {
    if (item->data(kNoteRole).toString() == note)
        return;
    const QString tip = plainToolTip(item);
    item->setData(kNoteRole, note);
    item->setToolTip(tip);
    applyMarks(item, false);
}

QString PlateChoice::key(QImage& shot, keying::KeySettings s, int rotation,
                         keying::KeyNotes* notes) {
    s.keepShadows = m_keepShadows && !m_path.isEmpty();
    if (m_path.isEmpty()) {
        *notes = keying::keySoft(shot, s);
        return QString();
    }
    const QString name = QDir::toNativeSeparators(m_path);
    QString why;
    const QImage photo = m_photo.load(m_path);
    if (photo.isNull()) {
        m_plate = keying::BackdropPlate();
        m_source = 0;
        *notes = keying::keySoft(shot, s);
        return QStringLiteral("Not keyed with the backdrop plate %1: it cannot be read").arg(name);
    }
    if (photo.cacheKey() != m_source || rotation != m_rotation) {
        m_plate = keying::prepareBackdropPlate(keying::turnPhoto(photo, rotation));
        m_source = photo.cacheKey();
        m_rotation = rotation;
    }
    const QSize size = shot.size();
    const keying::PlateOutcome out = keying::maskOutSoftWithPlate(shot, m_plate, s);
    *notes = out.notes;
    switch (out.use) {
        case keying::PlateOutcome::Use::Used:
            return QString();
        case keying::PlateOutcome::Use::WrongSize:
            return QStringLiteral(
                       "Not keyed with the backdrop plate %1: this shot is %2 pixels, "
                       "the plate %3")
                .arg(name, sizeText(size), sizeText(m_plate.size()));
        case keying::PlateOutcome::Use::DoesNotFit:
            break;
    }
    return QStringLiteral(
               "Not keyed with the backdrop plate %1: it does not fit this shot "
               "(%2% of its clear backdrop agrees)")
        .arg(name)
        .arg(qRound(out.agreement * 100));
}

void attachPlateMenu(QListWidget* list, PlateChoice* choice, std::function<void()> changed) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [=](const QPoint& at) {
        QListWidgetItem* entry = list->itemAt(at);
        auto* menu = new QMenu(list);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        auto mark = [=] {
            for (int i = 0; i < list->count(); ++i)
                markEntry(list->item(i),
                          !choice->path().isEmpty() && list->item(i)->text() == choice->path());
            changed();
        };
        QAction* use = menu->addAction(QObject::tr("Use as Backdrop Plate"));
        use->setEnabled(entry && entry->text() != choice->path());
        const QString path = entry ? entry->text() : QString();
        QObject::connect(use, &QAction::triggered, list, [=] {
            choice->setPath(path);
            mark();
        });
        QAction* none = menu->addAction(QObject::tr("No Backdrop Plate"));
        none->setEnabled(!choice->path().isEmpty());
        QObject::connect(none, &QAction::triggered, list, [=] {
            choice->setPath(QString());
            mark();
        });
        menu->addSeparator();
        QAction* keep = menu->addAction(QObject::tr("Keep Shadows"));
        keep->setCheckable(true);
        keep->setChecked(choice->keepShadows());
        keep->setToolTip(
            QObject::tr("With a backdrop plate: the subject's shadow darkens the "
                        "new background instead of being keyed out"));
        QObject::connect(keep, &QAction::toggled, list, [=](bool on) {
            choice->setKeepShadows(on);
            changed();
        });
        menu->popup(list->viewport()->mapToGlobal(at));
    });
}
