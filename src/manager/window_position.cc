#include "manager/window_position.h"

#include "core/settings.h"

namespace brindle {

TWindowPlacement LoadPosition(const std::string& section) {
  TWindowPlacement placement;
  placement.Top = ReadInteger(section, "Top", 10);
  placement.Left = ReadInteger(section, "Left", 10);
  placement.Height = ReadInteger(section, "Height", 450);
  placement.Width = ReadInteger(section, "Width", 650);
  placement.Maximized = ReadBool(section, "Maximized", false);
  placement.Minimized = !placement.Maximized && ReadBool(section, "Minimized", false);
  return placement;
}

void SavePosition(const std::string& section, const TWindowPlacement& placement) {
  if (placement.Maximized) {
    WriteBool(section, "Maximized", true);
    return;
  }
  if (placement.Minimized) {
    WriteBool(section, "Minimized", true);
    return;
  }
  WriteInteger(section, "Top", placement.Top);
  WriteInteger(section, "Left", placement.Left);
  WriteInteger(section, "Height", placement.Height);
  WriteInteger(section, "Width", placement.Width);
  WriteBool(section, "Maximized", false);
  WriteBool(section, "Minimized", false);
}

void MakeSureFormIsOnScreen(TWindowPlacement& placement, int screenWidth, int screenHeight) {
  if (placement.Left >= screenWidth || placement.Top >= screenHeight) {
    placement.Left = 1;
    placement.Top = 1;
  }
}

}  // namespace brindle
