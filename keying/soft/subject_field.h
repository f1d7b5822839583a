// Subject field: each cell's subject colour is the mean of its samples that clearly are not
// backdrop, kept to those near the most subject-like; where that colour is only a mix of a
// purer one close by, it takes that one; cells with none take the nearest subject seen.
#pragma once

#include <vector>

#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

// Writes the subject colour of every cell it can measure; returns which it measured. In the
// cells marked `keyLike` (a dark subject near the key) samples of more excess count.
std::vector<char> measureSubject(const Photo& img, bool blue, Grid& g, int step,
                                 const std::vector<char>& keyLike, const SoftKeyParams& p);

// A cell whose subject lies within a few levels of the line from its backdrop to the purer
// subject of a valid cell nearby, short of it, takes that subject.
void unmixSubjects(Grid& g, const std::vector<char>& valid, const SoftKeyParams& p);

// The whole subject field: measured, unmixed, filled from the nearest, with the subject's
// luma (the backdrop's where no subject is seen at all, so luma detail adds nothing).
void subjectField(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  const SoftKeyParams& p);

}  // namespace keying::soft
