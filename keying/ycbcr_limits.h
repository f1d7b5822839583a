// Exact reductions used by the YCbCr keyers, exposed for their tests.
#pragma once

namespace keying::detail {

// MaskOut3 keys a pixel out exactly when the squared Cb-Cr distance to the key is at most
// this value (-1: never) for the given coarse setting. The keep/key decision depends on the
// squared distance alone and is monotone in it: the square root, the ramp and the narrowing
// to float are all non-decreasing.
int maskOut3SquaredLimit(int coarse);

// The keyed-out decision of MaskOut3 at one squared Cb-Cr offset, by the plain rules.
bool maskOut3Keys(int dCb, int dCr, int coarse);

}  // namespace keying::detail
