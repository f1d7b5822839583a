#include "marks.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "imageops.h"

namespace samplegen {

namespace {

// Head and shoulders filling `box`, standing on its bottom edge. Built in the final
// coordinates because the path operations flatten curves at a fixed tolerance.
QPainterPath silhouette(const QRectF& box) {
    const auto at = [&box](double u, double v) {
        return QPointF(box.left() + u * box.width(), box.top() + v * box.height());
    };
    QPainterPath body(at(0.08, 1.0));
    body.cubicTo(at(0.10, 0.74), at(0.22, 0.66), at(0.40, 0.62));
    body.lineTo(at(0.60, 0.62));
    body.cubicTo(at(0.78, 0.66), at(0.90, 0.74), at(0.92, 1.0));
    body.closeSubpath();
    QPainterPath neck;
    neck.addRect(QRectF(at(0.43, 0.45), at(0.57, 0.65)));
    QPainterPath head;
    head.addEllipse(QRectF(at(0.33, 0.14), at(0.67, 0.54)));
    return body.united(neck).united(head);
}

// A small scene of sky, sun and hills filling `box`.
void paintScene(QPainter& p, const QRectF& box) {
    QLinearGradient skyG(box.topLeft(), box.bottomLeft());
    skyG.setColorAt(0.0, QColor(40, 110, 200));
    skyG.setColorAt(0.7, QColor(250, 190, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(skyG);
    p.drawRect(box);
    const double w = box.width();
    const double h = box.height();
    p.setBrush(QColor(255, 235, 170));
    p.drawEllipse(QPointF(box.left() + 0.72 * w, box.top() + 0.45 * h), 0.09 * w, 0.09 * w);
    QPainterPath far(QPointF(box.left(), box.top() + 0.66 * h));
    far.cubicTo(QPointF(box.left() + 0.25 * w, box.top() + 0.50 * h),
                QPointF(box.left() + 0.45 * w, box.top() + 0.58 * h),
                QPointF(box.left() + 0.6 * w, box.top() + 0.62 * h));
    far.cubicTo(QPointF(box.left() + 0.8 * w, box.top() + 0.52 * h),
                QPointF(box.left() + 0.9 * w, box.top() + 0.58 * h),
                box.topRight() + QPointF(0, 0.6 * h));
    far.lineTo(box.bottomRight());
    far.lineTo(box.bottomLeft());
    far.closeSubpath();
    p.setBrush(QColor(70, 110, 150));
    p.drawPath(far);
    QPainterPath near(QPointF(box.left(), box.top() + 0.82 * h));
    near.cubicTo(QPointF(box.left() + 0.3 * w, box.top() + 0.68 * h),
                 QPointF(box.left() + 0.6 * w, box.top() + 0.86 * h),
                 box.topRight() + QPointF(0, 0.74 * h));
    near.lineTo(box.bottomRight());
    near.lineTo(box.bottomLeft());
    near.closeSubpath();
    p.setBrush(QColor(40, 90, 60));
    p.drawPath(near);
}

QBrush chromaGreen(const QRectF& box) {
    QLinearGradient g(box.topLeft(), box.bottomRight());
    g.setColorAt(0.0, QColor(80, 220, 110));
    g.setColorAt(1.0, QColor(10, 140, 60));
    return QBrush(g);
}

}  // namespace

QImage appIcon() {
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    const QRectF tile(16, 12, 224, 224);
    QPainterPath shape;
    shape.addRoundedRect(tile, 46, 46);
    {
        // Soft drop shadow under the tile.
        QImage shadow(256, 256, QImage::Format_ARGB32_Premultiplied);
        shadow.fill(Qt::transparent);
        QPainter sp(&shadow);
        sp.setRenderHint(QPainter::Antialiasing);
        sp.setPen(Qt::NoPen);
        sp.setBrush(QColor(0, 0, 0, 110));
        sp.drawPath(shape.translated(0, 6));
        sp.end();
        boxBlur(shadow, 4, 3);
        QPainter p(&img);
        p.drawImage(0, 0, shadow);
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(chromaGreen(tile));
    p.drawPath(shape);
    // The subject's outline opens onto the new background.
    const QPainterPath person = silhouette(QRectF(46, 58, 164, 178)).intersected(shape);
    p.save();
    p.setClipPath(person);
    paintScene(p, person.boundingRect().adjusted(-20, 0, 20, 0));
    p.restore();
    QPen rim(QColor(255, 255, 255, 220), 5);
    p.setPen(rim);
    p.setBrush(Qt::NoBrush);
    p.drawPath(person);
    // Gloss along the top of the tile.
    QLinearGradient gloss(tile.topLeft(), QPointF(tile.left(), tile.top() + 110));
    gloss.setColorAt(0.0, QColor(255, 255, 255, 80));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawPath(shape);
    p.setPen(QPen(QColor(0, 80, 30, 160), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.end();
    return img;
}

QImage logo() {
    QImage img(80, 44, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Left: a subject before the green backdrop.
    const QRectF a(2, 4, 34, 36);
    QPainterPath tileA;
    tileA.addRoundedRect(a, 7, 7);
    p.setPen(Qt::NoPen);
    p.setBrush(chromaGreen(a));
    p.drawPath(tileA);
    const QPainterPath personA = silhouette(QRectF(8, 10, 22, 30)).intersected(tileA);
    p.setBrush(QColor(250, 250, 250));
    p.drawPath(personA);
    // Arrow between them.
    QPainterPath arrow(QPointF(39, 17));
    arrow.lineTo(45, 22);
    arrow.lineTo(39, 27);
    arrow.closeSubpath();
    p.setBrush(QColor(120, 120, 120));
    p.drawPath(arrow);
    // Right: the same subject over a new scene.
    const QRectF b(46, 4, 32, 36);
    QPainterPath tileB;
    tileB.addRoundedRect(b, 7, 7);
    p.save();
    p.setClipPath(tileB);
    paintScene(p, b);
    p.restore();
    const QPainterPath personB = silhouette(QRectF(51, 10, 22, 30)).intersected(tileB);
    p.setBrush(QColor(250, 250, 250));
    p.drawPath(personB);
    p.setPen(QPen(QColor(0, 0, 0, 70), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tileA);
    p.drawPath(tileB);
    p.end();
    return img;
}

}  // namespace samplegen
