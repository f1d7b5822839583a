#include "compose/window/gview.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>
#include <QTextStream>

#include "app/globals.h"
#include "ui/windowsettings.h"

namespace {

void writeReleaseRecord(const QPoint& pos) {
    if (!MyGlobal::log.isOpen())
        return;
    QTextStream out(&MyGlobal::log);
    out << " release ev = " << pos.x() << ", " << pos.y() << "\n";
    out.flush();
}

void writeDragRecord(int dx, int dy, const QPoint& pos, const QPoint& p1) {
    if (!MyGlobal::log.isOpen())
        return;
    QTextStream out(&MyGlobal::log);
    out << "MouseMove : \n"
        << QString(17, QLatin1Char(' ')) << "(x, y) " << dx << ", " << dy << "\n"
        << "event (x,y) = (" << pos.x() << "," << pos.y() << ")\n"
        << "p1 (x,y) = (" << p1.x() << "," << p1.y() << ")\n";
    out.flush();
}

// Light squares of 8 pixels, the usual sign of transparency.
QBrush checkerboard() {
    QPixmap tile(16, 16);
    tile.fill(QColor(255, 255, 255));
    QPainter p(&tile);
    p.fillRect(0, 0, 8, 8, QColor(204, 204, 204));
    p.fillRect(8, 8, 8, 8, QColor(204, 204, 204));
    return QBrush(tile);
}

}  // namespace

QImage createImageWithOverlay(const QImage& bImage, const QImage& oImage, int x, int y,
                              bool transparent, compose::ComposeCache* cache) {
    return compose::createComposite(bImage, oImage, x, y, transparent, composeSettings(), cache);
}

Gview::Gview(QWidget* parent) : QGraphicsView(parent), p1(0, 0) {
    connect(this, SIGNAL(Press(int, int)), parent, SLOT(GVClicked(int, int)));
    setInteractive(true);
    setDragMode(QGraphicsView::ScrollHandDrag);
}

Gview::~Gview() {
    delete scene();
}

void Gview::drawBackground(QPainter* painter, const QRectF& rect) {
    QGraphicsView::drawBackground(painter, rect);
    if (scene() && !scene()->items().isEmpty())
        painter->fillRect(rect.intersected(scene()->itemsBoundingRect()), checkerboard());
}

void Gview::showScene(QGraphicsScene* newScene) {
    QGraphicsScene* old = scene();
    setScene(newScene);
    if (old != newScene)
        delete old;
    viewport()->update();
}

void Gview::showPreview(const QImage& preview) {
    auto* newScene = new QGraphicsScene();
    newScene->addPixmap(QPixmap::fromImage(compose::forScreen(preview)));
    showScene(newScene);
}

void Gview::showComposite(const QImage& preview, const QImage& background, const QImage& overlay,
                          const compose::ComposeCache& layers) {
    m_background = background;
    m_overlay = overlay;
    m_scaled = layers;
    if (preview.isNull())
        showScene(new QGraphicsScene());
    else
        showPreview(preview);
}

void Gview::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit Press(pos.x(), pos.y());
    p1 = pos;
}

void Gview::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::LeftButton)
        return;
    MyGlobal::mouseMove = true;
    const QImage& bg = m_background;
    const QPoint pos = event->position().toPoint();
    const int dx = pos.x() - p1.x();
    const int dy = pos.y() - p1.y();
    writeDragRecord(dx, dy, pos, p1);
    if (bg.isNull() && !MyGlobal::transparentbkg)
        return;
    // Only the composite pixels that the exact-size preview samples are computed; the release
    // that ends the drag builds the full-resolution composite.
    const QImage preview = compose::dragPreview(bg, MyGlobal::PrevImg, MyGlobal::xshiftFG + dx,
                                                MyGlobal::yshiftFG + dy, MyGlobal::transparentbkg,
                                                composeSettings(), &m_scaled, m_overlay);
    if (!preview.isNull())
        showPreview(preview);
}

void Gview::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    writeReleaseRecord(pos);
    if (MyGlobal::mouseMove) {
        MyGlobal::xshiftFG += pos.x() - p1.x();
        MyGlobal::yshiftFG += pos.y() - p1.y();
        MyGlobal::mouseMove = false;
    }
    emit Released();
}
