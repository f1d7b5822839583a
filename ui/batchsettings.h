// The window's settings as the batch tool reads them (its --settings file): INI text whose keys
// are the tool's long option names, so that a shoot keyed by the tool matches the window's
// "Save Image" to the pixel.
#pragma once

#include <QString>

#include "ui/refreshworker.h"

// Every setting of `r`: the keying and composing controls, the committed drag offset, the
// background chosen (or the transparent option), the overlay and, with Magic Number 10, the
// backdrop plate.
QString batchSettingsText(const RefreshRequest& r);
