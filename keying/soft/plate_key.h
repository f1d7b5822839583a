// Magic Number 10 against a backdrop plate: the backdrop behind every pixel is known, the plate
// matched to the shot (shifted, gains applied, smoothed). A pixel is the compositing of subject
// F over that backdrop K, P = a F + (1 - a) K, so a = |P - K| / |F - K|, with |F - K| the
// distance of the opaque subject nearby from the backdrop; a pixel off the line from K to that
// subject (a dark strand on skin) is covered at least as far as it lacks the key's excess over
// the plate's. A light neutral layer (glass, a veil), P = K + a (n - K) with n grey and lighter
// than K, is covered as that a says where it is the lower. The backdrop is then taken out,
// (P - (1 - a) K) / a.
// A pixel that is the plate darkened with its hue kept, P = t K, where the blocks about it are
// so too, is shadow: it keys clear, or, when shadows are kept, turns black with 1 - t as alpha,
// so that any composite darkens its background by t there.
#pragma once

#include <QImage>
#include <QSize>
#include <array>

#include "keying/keyer.h"
#include "keying/soft/params.h"
#include "keying/soft/plate_match.h"

namespace keying {

// A backdrop plate ready to key the shots of one set-up; turned as the shots are.
struct BackdropPlate {
    soft::PreparedPlate prepared;
    QSize size() const { return prepared.smoothed.size(); }
    bool isNull() const { return prepared.smoothed.isNull(); }
};

BackdropPlate prepareBackdropPlate(const QImage& turnedPlate);

// What became of the plate for one shot.
struct PlateOutcome {
    enum class Use { Used, WrongSize, DoesNotFit };
    Use use = Use::DoesNotFit;
    int dx = 0, dy = 0;                  // the plate's shift under the shot, pixels
    std::array<float, 3> gain{1, 1, 1};  // shot = gain x plate, red, green, blue
    float agreement = 0;                 // share of the shot's clear backdrop that agrees
    KeyNotes notes;                      // of the key without the plate, when it was not used
};

// Keys the photo with Magic Number 10 against the plate. A plate of another size, or one that
// does not fit the shot (another framing, another backdrop), is not used: the photo is keyed
// as maskOutSoft keys it, and the outcome says why. Other constants than the defaults are for
// the benchmark's tuning runs.
PlateOutcome maskOutSoftWithPlate(QImage& img, const BackdropPlate& plate, const KeySettings& s,
                                  const soft::SoftKeyParams& p = soft::SoftKeyParams());

}  // namespace keying
