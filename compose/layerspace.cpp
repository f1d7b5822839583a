#include "compose/layerspace.h"

namespace compose {

namespace {

bool needsConversion(const QImage& layer, const QColorSpace& space) {
    return !layer.isNull() && space.isValid() && layer.colorSpace().isValid() &&
           layer.colorSpace() != space;
}

}  // namespace

QImage inColorSpace(const QImage& layer, const QColorSpace& space) {
    return needsConversion(layer, space) ? layer.convertedToColorSpace(space) : layer;
}

QImage forScreen(const QImage& preview) {
    return inColorSpace(preview, QColorSpace(QColorSpace::SRgb));
}

QImage SpaceCache::converted(const QImage& src, const QColorSpace& space) {
    if (!needsConversion(src, space)) {
        clear();  // nothing to keep, and no second reference to pin the source
        return src;
    }
    if (m_result.isNull() || src.cacheKey() != m_sourceKey || space != m_space) {
        m_result = src.convertedToColorSpace(space);
        m_sourceKey = src.cacheKey();
        m_space = space;
    }
    return m_result;
}

}  // namespace compose
