// Subject field: each cell's subject colour is the mean of its samples that clearly are not
// backdrop, kept to those near the most subject-like; where that colour is only a mix of a
// purer one close by, it takes that one; cells with none take the nearest subject seen. A
// cloth close to the key in its excess is told by its colour, which no layer over the
// backdrop makes, and carried into the cells that a stem or a strand crosses.
#pragma once

#include <vector>

#include "keying/soft/backdrop_field.h"
#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

// Flat cells the backdrop does not reach whose colour no neutral layer over the backdrop
// behind them makes: P = (1 - a) K + c (1, 1, 1) covers a veil, glass, a hot spot and a
// shadow, each for some a and c, but not a teal or olive cloth, which is a solid subject
// however little it differs from the key in its excess. The test is P's distance from that
// plane through K.
std::vector<char> solidSubjectCells(const Grid& g, const std::vector<char>& measured,
                                    const std::vector<CellMean>& means, const SoftKeyParams& p);

// Writes the subject colour of every cell it can measure; returns which it measured. In the
// cells marked `keyLike` (a dark or a solid subject near the key) samples of more excess
// count.
std::vector<char> measureSubject(const Photo& img, bool blue, Grid& g, int step,
                                 const std::vector<char>& keyLike, const SoftKeyParams& p);

// A cell beside a measured key-like one, most of whose samples are of that one's subject
// colour (a cloth crossed by a stem or a strand), takes that colour: the few other samples
// would give the cell theirs, and the cloth would be read as a mix of them.
void carryKeyLike(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  std::vector<char>& valid, const SoftKeyParams& p);

// A cell whose subject lies within a few levels of the line from its backdrop to the purer
// subject of a valid cell nearby, short of it, takes that subject.
void unmixSubjects(Grid& g, const std::vector<char>& valid, const SoftKeyParams& p);

// The whole subject field: measured, unmixed, filled from the nearest, with the subject's
// luma (the backdrop's where no subject is seen at all, so luma detail adds nothing).
void subjectField(const Photo& img, bool blue, Grid& g, int step, const std::vector<char>& keyLike,
                  const SoftKeyParams& p);

}  // namespace keying::soft
