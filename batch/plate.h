// The backdrop plate of a run: the empty backdrop, shot once before the first subject, that
// every shot is keyed against with Magic Number 10.
#pragma once

#include <QImage>
#include <QString>

#include "batch/photojob.h"

namespace batch {

// Keys a turned shot as the options say: against the plate when o.plate is set. False, with
// the reason in `why` naming the plate, when the plate cannot be read or is not the shot's
// size; `warning` says so when the plate does not fit this shot and it was keyed without.
// The plate is read once and again only when its file changes, so that a plate shot anew
// during an event is taken up by the next photo.
bool keyShot(QImage& turned, const JobSettings& o, QString* why, QString* warning);

}  // namespace batch
