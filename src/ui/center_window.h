#pragma once

#include <QRect>

class QWidget;

namespace brindle {

// Moves window so its centre is bounds' centre, then into the available
// area of that screen: a dialog taller than a small main window near the
// top of the screen must not lose its caption above the edge.
void CenterWindow(QWidget& window, const QRect& bounds);

}  // namespace brindle
