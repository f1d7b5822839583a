// Luma detail, the field part: the subject's luma step for cells full of mixes. Over 4 x 4
// patches (the chroma's resolution) luma against weighted excess is a line from backdrop to
// subject; where a cell's patches spread and correlate enough, its slope gives the luma that
// goes with the key's own subject excess, in place of the nearest solid part's luma.
#pragma once

#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

// The weight of red in the excess against a subject with red sr and other so.
inline float redWeight(float sr, float so, const SoftKeyParams& p) {
    return std::clamp(0.5f + (sr - so) / float(p.weightSpan), 0.0f, 1.0f);
}

// Rewrites the subject luma of the cells whose mixes tell it.
void lumaSteps(const Photo& img, bool blue, Grid& g, const SoftKeyParams& p);

}  // namespace keying::soft
