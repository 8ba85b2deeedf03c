#pragma once

#include "manager/window_position.h"

class QWidget;

namespace brindle {

// A window's bounds as its stored placement has them (the geometry without
// the frame, so that a window put back does not creep); not maximized or
// minimized, which the main window alone keeps.
TWindowPlacement WindowBounds(const QWidget& window);
// Puts window at placement's bounds; its state is the caller's.
void SetWindowBounds(QWidget& window, const TWindowPlacement& placement);

}  // namespace brindle
