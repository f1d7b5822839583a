// The application's window icon and logo.
#pragma once

#include <QImage>

namespace samplegen {

QImage appIcon();  // 256 x 256 with transparent surround
QImage logo();     // 80 x 44 with transparent surround

}  // namespace samplegen
