// The window's one translation from its controls and shared settings into the engine's typed
// settings. Everything the window keys or composes goes through these two functions.
#pragma once

#include "compose/composite.h"
#include "keying/keyer.h"

class Ui_Dialog;

// The Magic Number, tuning and spill controls, and the backdrop colour setting.
keying::KeySettings keySettings(const Ui_Dialog& ui);

// Foreground size, background scaling and alignment, canvas, in the preview frame.
compose::ComposeSettings composeSettings();
