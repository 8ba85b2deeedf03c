#include "manager/window_position.h"

#include "core/settings_schema.h"

namespace brindle {

TWindowPlacement LoadPosition(const std::string& section, int unsetWidth, int unsetHeight) {
  setting::TWindowPosition stored = setting::WindowPosition(section);
  if (unsetWidth > 0) stored.Width.Fixed = unsetWidth;
  if (unsetHeight > 0) stored.Height.Fixed = unsetHeight;
  TWindowPlacement placement;
  placement.Top = Read(stored.Top);
  placement.Left = Read(stored.Left);
  placement.Height = Read(stored.Height);
  placement.Width = Read(stored.Width);
  placement.Maximized = Read(stored.Maximized);
  placement.Minimized = !placement.Maximized && Read(stored.Minimized);
  return placement;
}

void SavePosition(const std::string& section, const TWindowPlacement& placement) {
  const setting::TWindowPosition stored = setting::WindowPosition(section);
  if (placement.Maximized) {
    Write(stored.Maximized, true);
    return;
  }
  if (placement.Minimized) {
    Write(stored.Minimized, true);
    return;
  }
  Write(stored.Top, placement.Top);
  Write(stored.Left, placement.Left);
  Write(stored.Height, placement.Height);
  Write(stored.Width, placement.Width);
  Write(stored.Maximized, false);
  Write(stored.Minimized, false);
}

void MakeSureFormIsOnScreen(TWindowPlacement& placement, int screenWidth, int screenHeight) {
  if (placement.Left >= screenWidth || placement.Top >= screenHeight) {
    placement.Left = 1;
    placement.Top = 1;
  }
}

}  // namespace brindle
