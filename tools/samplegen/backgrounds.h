// Background photos of the kinds photographers put behind a keyed subject.
#pragma once

#include <QImage>

namespace samplegen {

QImage beach();        // portrait, 1400 x 2100: sand, surf and sea under a light sky
QImage interior();     // 1600 x 1200: a room with window light on wall and wooden floor
QImage landscape();    // panorama, 3000 x 1500: mountains, a lake with reflections, trees
QImage sky();          // 2400 x 1600: evening sky with clouds above a dark horizon
QImage studioPaper();  // 2000 x 2000: grey seamless paper with light falloff

}  // namespace samplegen
