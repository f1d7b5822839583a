// The soft key as a whole: the fields estimated from the photo, then the kernel over its rows.
#pragma once

#include <QImage>

#include "keying/keyer.h"
#include "keying/soft/channels.h"
#include "keying/soft/grid.h"
#include "keying/soft/kernel.h"

namespace keying::soft {

struct Fields {
    Grid grid;
    bool usable = false;  // the photo shows a backdrop to key against
};

Fields estimateFields(const Photo& img, bool blue, const SoftKeyParams& p);

// Keys every row of a Format_ARGB32 image in place, rows split across the thread pool.
void keyRows(QImage& img, const Grid& grid, const Shape& sh, bool blue);

// The whole key with a chosen parameter set; keySoft is this with the defaults.
KeyNotes keyWithParams(QImage& img, const KeySettings& s, const SoftKeyParams& p);

}  // namespace keying::soft
