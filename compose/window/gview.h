// The preview: shows the composite scaled into the preview frame and lets the user drag the
// foreground into place with the left mouse button.
#pragma once

#include <QGraphicsView>
#include <QImage>
#include <QPoint>

#include "compose/composite.h"

// Lays the keyed foreground over the background with the window's compositing settings.
// `cache` keeps rescaled layers between calls with unchanged sources.
QImage createImageWithOverlay(const QImage& bImage, const QImage& oImage, int x, int y,
                              bool transparent, compose::ComposeCache* cache = nullptr);

class Gview : public QGraphicsView {
    Q_OBJECT

public:
    explicit Gview(QWidget* parent);
    ~Gview() override;

    // Makes `scene` the one shown and deletes the scene shown before.
    void showScene(QGraphicsScene* scene);
    // Shows a refresh: its preview (an empty scene for a null one) and the background and
    // overlay layers that drags compose with until the next refresh.
    // `layers` are the rescaled layers the refresh composed with: the drags start from them.
    void showComposite(const QImage& preview, const QImage& background,
                       const QImage& overlay = QImage(),
                       const compose::ComposeCache& layers = compose::ComposeCache());
    // Shows a preview only, the background of drags unchanged.
    void showPreview(const QImage& preview);

    // Public so that the window can hand the view a release directly, as a refresh does.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

    QPoint p1;

signals:
    void Press(int x, int y);
    // A release asks for the composite at the committed offsets; the window builds it off the
    // GUI thread and hands it back through showComposite.
    void Released();

protected:
    // Transparent parts of the preview show over a light checkerboard, as in image editors;
    // it belongs to the view alone and never reaches the composite.
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    QImage m_background;             // the layer of the last refresh, for drags
    QImage m_overlay;                // and its overlay layer
    compose::ComposeCache m_scaled;  // drags' rescaled layers, kept while unchanged
};
