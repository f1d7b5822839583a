// The two sample chroma-key studio shots and their clean plates.
#pragma once

#include <QImage>

namespace samplegen {

// A woman with long dark hair before a green backdrop, 2000 x 1500.
QImage greenScreenShot();
// Its clean plate: the backdrop alone, shot before the subject stepped in.
QImage greenScreenPlate();

// A man with short hair and a potted plant before a blue backdrop, 1500 x 2000.
QImage blueScreenShot();
QImage blueScreenPlate();

}  // namespace samplegen
