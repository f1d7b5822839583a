// The window's one translation from its controls and shared settings into the engine's typed
// settings. Everything the window keys or composes goes through these functions.
#pragma once

#include "compose/composite.h"
#include "keying/keyer.h"
#include "ui/refreshworker.h"

class Ui_Dialog;

// The Magic Number, tuning and spill controls, and the backdrop colour setting.
keying::KeySettings keySettings(const Ui_Dialog& ui);

// Foreground size, background scaling and alignment, canvas, in the preview frame.
compose::ComposeSettings composeSettings();

// A refresh of the current foreground over the current background at the committed offsets.
RefreshRequest refreshRequest(const Ui_Dialog& ui);
