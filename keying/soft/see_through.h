// See-through patches: glass, smoke or a veil over a filled area shows the backdrop through
// it. A connected patch of filled cells that all read as one even partial mix P = a F +
// (1 - a) K is taken as such a layer, so the backdrop behind it follows K = K0 + (P - P0) /
// (1 - a), with K0, P0 and a read on the patch's rim next to the measured backdrop.
#pragma once

#include <vector>

#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

// Rewrites the backdrop of the cells of every such patch, and moves the filled cells beside
// a patch by the mean correction of their neighbours in it.
void seeThrough(Grid& g, const std::vector<char>& measured, const Photo& img, bool blue, int step,
                const SoftKeyParams& p);

}  // namespace keying::soft
