#pragma once

#include <string>

namespace brindle {

// Where a window stands on screen, as stored under "<window name> Position";
// the fields start where a window never placed reads (setting::WindowPosition).
struct TWindowPlacement {
  int Left = 10;
  int Top = 10;
  int Width = 650;
  int Height = 450;
  bool Maximized = false;
  bool Minimized = false;
  bool operator==(const TWindowPlacement&) const = default;
};

// Reads the section's placement; a width or height never stored is
// unsetWidth or unsetHeight when given (not 0).
TWindowPlacement LoadPosition(const std::string& section, int unsetWidth = 0, int unsetHeight = 0);
// A maximized window writes only "Maximized", a minimized one only
// "Minimized", so the normal bounds stored earlier survive for the restore.
void SavePosition(const std::string& section, const TWindowPlacement& placement);
// A window whose left or top edge lies beyond the screen moves to 1, 1.
void MakeSureFormIsOnScreen(TWindowPlacement& placement, int screenWidth, int screenHeight);

}  // namespace brindle
