// Text from outside (file names, decoders' words) made safe to print on a terminal.
#pragma once

#include <QString>

namespace batch {

// `text` with its control characters written as octal escapes ("\033" for ESC), bidirectional
// controls as "\u202e" and a backslash as "\\", so that a name can neither move the cursor, set
// the window title, clear the screen nor reorder what follows it, and reads back unambiguously.
QString terminalText(const QString& text);

}  // namespace batch
