#include "compose/overlay.h"

#include <cstdlib>

namespace compose {

QRect overlayRect(QSize overlay, QSize canvas) {
    if (overlay.isEmpty() || canvas.isEmpty())
        return QRect();
    const QSize fitted = overlay.scaled(canvas, Qt::KeepAspectRatio);
    if (fitted.isEmpty())
        return QRect();
    return QRect(
        QPoint((canvas.width() - fitted.width()) / 2, (canvas.height() - fitted.height()) / 2),
        fitted);
}

bool overlayProportionsDiffer(QSize overlay, QSize canvas) {
    const QRect r = overlayRect(overlay, canvas);
    if (r.isEmpty())
        return !overlay.isEmpty() && !canvas.isEmpty();
    return std::abs(r.width() - canvas.width()) > 1 || std::abs(r.height() - canvas.height()) > 1;
}

QImage overlayLayer(const QImage& decoded) {
    return decoded.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace compose
