// The colour space of a composite: the foreground decides it, and a background shot in another
// space has its numbers converted into the foreground's before the two are laid together, so that
// equal numbers mean equal colours. The screen shows sRGB.
#pragma once

#include <QColorSpace>
#include <QImage>

namespace compose {

// `layer` with its numbers converted into `space`. `layer` itself when either has no colour
// space or the two are the same.
QImage inColorSpace(const QImage& layer, const QColorSpace& space);

// What the screen shows of a preview: its numbers in sRGB.
QImage forScreen(const QImage& preview);

// Remembers one conversion, so that composing over the same background again (every drag step,
// every photo of a batch) converts it once. Keyed by the source's cacheKey() and the target
// space; when no conversion is needed the source itself is returned and nothing is kept.
class SpaceCache {
public:
    QImage converted(const QImage& src, const QColorSpace& space);
    void clear() {
        m_result = QImage();
        m_sourceKey = 0;
    }

private:
    qint64 m_sourceKey = 0;
    QColorSpace m_space;
    QImage m_result;
};

}  // namespace compose
