// The per-pixel kernel: a linear colour-difference key a = (e(K) - e) / (e(K) - e(F)) against
// the backdrop K and subject F fields, the chroma's fine detail swapped for luma's where the
// pixel is mixed, then the backdrop taken out, F = (P - (1 - a) K) / a, as spill correction.
#pragma once

#include <QtGlobal>
#include <vector>

#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

constexpr int kRaw = 7;  // grid fields: backdrop r, k, o; subject r, k, o, luma

// Pixels per block of the key: fixed, so that the compiler vectorises it whole.
constexpr int kStride = 8;

// A row's block fields plane by plane, field f of block n at f * blocks + n, so that working
// them out for each photo row vectorises: at, slope, inv0, invNeutral0.
constexpr int kPlanes = 2 * kRaw + 2;

// The limits of the key's denominator: the red weight's span (as 1 / span), the least
// backdrop excess and the subject excess's range as shares of it.
struct KeyLimits {
    float invSpan, minKey, low, high;
};

// What the ramp and the colour correction need, fixed for one call.
struct Shape {
    float lo, scale;      // where the chroma carries fine detail: alpha = (raw - lo) * scale
    float opaqueDespill;  // share of an opaque pixel's key excess removed
    float clearBelow;     // a chroma alpha at most this keys out whatever the luma says
    float solidAbove;     // a chroma alpha at least this is opaque whatever the luma says
    float noiseFloor, smoothSlope, smoothReach, detailGain;  // the clip at either end
    float neutralMargin, mixedGain, lumaPrior, lumaDamp, lumaGain;
    KeyLimits limits;
    Luma luma;
};

// The shape of one call's key from the parameters and the user's settings.
Shape makeShape(const SoftKeyParams& p, int fine, bool correctSpill, int spill, bool blue);

// Where a block sits between two cells, the same for every row.
struct BlockPlace {
    int i0, i1;      // the two cells
    float t;         // t at the block centre
    float perPixel;  // t per pixel (0 past a one-cell grid)
};

std::vector<BlockPlace> blockPlaces(const Grid& g, int blocks);

// What a row's soft key reads besides the pixels: the three channels of the row as floats
// (r, k, o planes) and their sums down [1 4 6 4 1], each with two spare elements at both ends.
struct RowPlanes {
    const float* mid;
    const float* sum;
    int padded;  // elements per channel plane
    int summed;  // elements per sum plane
};

// The fields on the centre line of grid row j, kRaw floats a cell.
void lineAt(const Grid& g, int j, float* line);

// The at and slope planes of a row's blocks from the fields on one line.
void rowBlocks(const float* line, const std::vector<BlockPlace>& places, float* out);

// The planes of one photo row between two grid rows' lines, with the key's reciprocals.
void lerpBlocks(const float* from, const float* to, float t, size_t m, KeyLimits kl, float* out);

// Keys one row of w pixels in place from its block planes.
void softRow(quint32* px, int w, const float* blocks, RowPlanes pl, const Shape& sh, bool blue);

// The three channels of a row as floats, one plane each: r, k, o.
void channelRow(const quint32* px, float* out, int n, int padded, bool blue);

// A channel's sum down [1 4 6 4 1] into sum[2..n+1], with copies of the ends beside.
void columnSumRow(const float* a, const float* b, const float* c, const float* d, const float* e,
                  float* sum, int n);

}  // namespace keying::soft
