// The coarse grid that carries the backdrop and subject fields: cells of a fixed edge over
// the photo, each holding one backdrop colour, one subject colour and the subject's luma,
// and the two helpers the stages share to spread what was measured into what was not.
#pragma once

#include <array>
#include <vector>

#include "keying/soft/params.h"

namespace keying::soft {

struct Cell {
    float r = 0, k = 0, o = 0;     // backdrop
    float sr = 0, sk = 0, so = 0;  // subject
    float sy = 0;                  // subject luma
};

struct Grid {
    int size = 0;  // cell edge in pixels
    int w = 0, h = 0;
    std::vector<Cell> cells;
};

// An empty grid over a photo of width x height.
Grid makeGrid(int width, int height, const SoftKeyParams& p);

using CellColour = std::array<float Cell::*, 3>;
inline constexpr CellColour kBackdropColour = {&Cell::r, &Cell::k, &Cell::o};
inline constexpr CellColour kSubjectColour = {&Cell::sr, &Cell::sk, &Cell::so};

// Fills the cells not marked valid with the mean of their valid neighbours, ring by ring
// inwards, so that an area the subject covers takes what is seen around it; marks them
// valid. With nothing valid at all every cell takes `fallback`.
void fillHoles(std::vector<char>& valid, Grid& g, const CellColour& colour, float fallback);

// The largest magnitude a field may take: fills and see-through patches extrapolate, but
// nothing the kernel reads may stray further (nor be NaN or infinite).
inline constexpr float kFieldLimit = 1020.0f;

// Puts every field of every cell into [-kFieldLimit, kFieldLimit]; a NaN becomes `fallback`.
void sanitiseFields(Grid& g, float fallback);

// How far each cell lies from the nearest measured one, in cells (chamfer distance); 1e9
// where nothing is measured.
std::vector<float> distanceToMeasured(const std::vector<char>& measured, int gw, int gh);

}  // namespace keying::soft
