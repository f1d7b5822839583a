// Small image operations shared by the sample pictures.
#pragma once

#include <QImage>
#include <vector>

namespace samplegen {

// Box blur of every channel of a 32-bit image, in place; `passes` passes approximate a
// Gaussian. Works on premultiplied images so colours do not bleed out of transparent areas.
void boxBlur(QImage& image, int radius, int passes);

// The alpha channel of a 32-bit image as floats in [0, 1], box-blurred.
std::vector<float> blurredAlpha(const QImage& image, int radius, int passes);

// Box blur of a float plane of the given size, in place.
void blurPlane(std::vector<float>& plane, int width, int height, int radius, int passes);

}  // namespace samplegen
