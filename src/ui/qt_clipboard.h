#pragma once

#include "integration/monitor_clipboard.h"

namespace brindle {

// The desktop's clipboard (Ctrl+C, not the mouse selection) as the clipboard
// monitor reads it: its text, or none when it holds no text.
TClipboardText QtClipboardText();

}  // namespace brindle
