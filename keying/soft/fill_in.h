// Backdrop fill-in: cells the subject covers take the mean of their neighbours, ring by ring
// inwards; then each takes a quadratic fitted to the measured cells around it, weighted by
// distance over a window as wide as the hole is deep, so a hot spot keeps its curvature.
#pragma once

#include <vector>

#include "keying/soft/grid.h"

namespace keying::soft {

// Fills and refines the backdrop of every cell not measured. With nothing measured every
// cell's backdrop is black.
void fillBackdrop(Grid& g, const std::vector<char>& measured, const SoftKeyParams& p);

// Solves a x = b for three right-hand sides (x into b's first row only for the constant
// term) by elimination with partial pivoting; false if a is singular.
bool solve6(double a[6][6], double b[6][3]);

}  // namespace keying::soft
