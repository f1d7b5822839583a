// The composite built the plain way, step by step with QImage::scaled and QPainter. The fast
// engine must give exactly these pixels.
#pragma once

#include <QImage>
#include <QPainter>

#include "compose/composite.h"

namespace reference {

// The overlay drawn last, fitted into the canvas with its proportions kept and centred.
inline void drawOverlay(QImage* canvas, const QImage& overlay) {
    if (overlay.isNull())
        return;
    const QImage fitted =
        overlay.scaled(canvas->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter p(canvas);
    p.drawImage((canvas->width() - fitted.width()) / 2, (canvas->height() - fitted.height()) / 2,
                fitted);
}

inline QImage composite(const QImage& bImage, const QImage& oImage, int x, int y, bool transparent,
                        const compose::ComposeSettings& s, const QImage& overlay = QImage()) {
    if (transparent && !overlay.isNull() && !oImage.isNull()) {
        QImage canvas = oImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        drawOverlay(&canvas, overlay);
        return canvas;
    }
    if (transparent)
        return oImage;
    if (bImage.isNull() || oImage.isNull())
        return QImage();
    const int w = oImage.width() * s.fgSize / 100, h = oImage.height() * s.fgSize / 100;
    QImage fg;
    if (w > 0 && h > 0)
        fg = oImage.scaled(w, h, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage bg = bImage;
    const bool fill = s.bgScale == compose::BackgroundScale::Fill;
    if (s.bgScale == compose::BackgroundScale::Fit || fill) {
        bg = fg.isNull() ? QImage()
                         : bg.scaled(fg.size(),
                                     fill ? Qt::KeepAspectRatioByExpanding : Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    }
    const QSize canvasSize =
        s.canvas == compose::Canvas::Foreground || fill ? fg.size() : bg.size();
    if (canvasSize.isEmpty())
        return QImage();
    QImage canvas(canvasSize, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&canvas);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(canvas.rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const bool centre = s.align == compose::Align::Center || fill;
    p.drawImage(centre ? (canvas.width() - bg.width()) / 2 : 0,
                centre ? (canvas.height() - bg.height()) / 2 : 0, bg);
    p.drawImage(x * canvas.width() / s.previewSize.width(),
                y * canvas.height() / s.previewSize.height(), fg);
    p.end();
    drawOverlay(&canvas, overlay);
    return canvas;
}

// What a drag step showed before: the whole composite, then nearest-pixel scaling.
inline QImage dragPreview(const QImage& bImage, const QImage& oImage, int x, int y,
                          bool transparent, const compose::ComposeSettings& s,
                          const QImage& overlay = QImage()) {
    const QImage full = composite(bImage, oImage, x, y, transparent, s, overlay);
    return full.isNull()
               ? QImage()
               : full.scaled(s.previewSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

}  // namespace reference
