#pragma once

#include <QIcon>
#include <QString>
#include <QStyle>

namespace brindle {

// The program's own pictures, drawn in code so nothing has to be shipped.
QIcon ProgramIcon();
// The tray picture with browser integration on (true) or off.
QIcon TrayIcon(bool integrationEnabled);
// A toolbar glyph: the desktop theme's icon of that name, else the style's.
QIcon ThemeGlyph(const char* themeName, QStyle::StandardPixmap fallback);
// A small arrow for the layout buttons.
QIcon ArrowGlyph(Qt::ArrowType direction);

}  // namespace brindle
