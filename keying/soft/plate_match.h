// Matching a backdrop plate (the empty backdrop, shot from the same tripod under the same light)
// to one shot. Between the two the camera may have been nudged, a shift of a few pixels, and
// exposure and white balance may have drifted, a gain per channel: shot = gain x plate(x + d).
// The shot's clear backdrop is where its blocks have the plate's colour beneath them, up to their
// light, and enough of the key's excess. The shift is the peak of the correlation over it, first
// on 4 x 4 block means, then at full resolution; the gains are the ratios over blocks that are
// clear backdrop in both. A plate that too little of the shot's clear backdrop agrees with, or
// that hides backdrop the shot shows, is not used.
#pragma once

#include <QImage>
#include <array>
#include <vector>

#include "keying/soft/channels.h"
#include "keying/soft/params.h"
#include "keying/soft/plane.h"

namespace keying::soft {

constexpr int kPlateBlock = 4;  // edge of the blocks the fields are measured on

// Three planes of floats, red, green and blue, of w x h; resize leaves them to be written.
struct Planes {
    int w = 0, h = 0;
    Plane<float> r, g, b;
    void resize(int width, int height);
};

// The means of the photo's 4 x 4 blocks (the last column and row of blocks over what they hold).
// With `purest`, also the colour of each block's pixel of least excess of the key (green, or
// blue with `blue`) over the other two: where a strand of hair or a stem crosses the block,
// the pixel it covers most, each channel to the middle of its pair of levels (2k, 2k + 1); of
// pixels of equal excess, the one of least red, then green, then blue.
Planes blockMeans(const Photo& img, Planes* purest = nullptr, bool blue = false);

// The plate as every shot reads it: smoothed by [1 2 1] both ways, which takes the sensor's
// noise down to 0.375 of itself while keeping a cloth's texture, and its block means.
struct PreparedPlate {
    QImage smoothed;  // Format_ARGB32
    Planes blocks;
};

PreparedPlate preparePlate(const QImage& plate);

struct PlateFit {
    enum class Verdict { Fits, WrongSize, DoesNotFit };
    Verdict verdict = Verdict::DoesNotFit;
    int dx = 0, dy = 0;                  // shot pixel (x, y) shows plate pixel (x + dx, y + dy)
    std::array<float, 3> gain{1, 1, 1};  // shot = gain x plate, red, green, blue
    float agreement = 0;                 // share of the shot's clear backdrop that agrees
    float noise = 0;                     // deviation of shot - gain x plate per channel, levels
    Planes backdrop;  // gain x plate under each of the shot's blocks (when it fits)
};

// Matches the plate to the shot, whose block means are `shot`.
PlateFit matchPlate(const Photo& img, const Planes& shot, const PreparedPlate& plate, bool blue,
                    const SoftKeyParams& p);

}  // namespace keying::soft
