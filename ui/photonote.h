// What a list entry tells about a photo that did not read cleanly.
#pragma once

#include <QString>

#include "core/photofile.h"

// One line for the entry's tooltip ("Damaged: ...", "Not a regular file ...", "Its colour
// profile cannot be used..."); empty when the photo read cleanly.
QString photoProblemNote(const PhotoLoad& load);
