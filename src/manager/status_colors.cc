#include "manager/status_colors.h"

namespace brindle {

const std::optional<uint32_t>& TStatusColors::For(TStatusColor group) const {
  switch (group) {
    case TStatusColor::Downloading:
      return Downloading;
    case TStatusColor::Paused:
      return Paused;
    case TStatusColor::Done:
      return Done;
    case TStatusColor::Error:
      return Error;
    case TStatusColor::Other:
      break;
  }
  return Other;
}

std::array<uint32_t, 6> ThemeDefaultColors(int theme) {
  std::array<uint32_t, 6> colors{};
  for (size_t role = 0; role < colors.size(); ++role)
    colors[role] = static_cast<uint32_t>(setting::ThemeColor(theme, role).Default());
  return colors;
}

std::array<uint32_t, 6> LoadThemeColors(int theme) {
  std::array<uint32_t, 6> colors{};
  for (size_t role = 0; role < colors.size(); ++role)
    colors[role] = static_cast<uint32_t>(Read(setting::ThemeColor(theme, role)));
  return colors;
}

bool ThemeCanReset(int theme, const std::array<uint32_t, 6>& colors) {
  return (theme == 0 || theme == 1) && colors != ThemeDefaultColors(theme);
}

TStatusColors LoadColorSettingsFromRegistry() {
  const int theme = Read(setting::ColorTheme);
  const std::array<uint32_t, 6> colors = LoadThemeColors(theme);
  // The standard theme leaves a background or text colour it does not
  // store to the desktop's palette.
  const auto orPalette = [&](size_t role) -> std::optional<uint32_t> {
    if (theme == 0 && !Stored(setting::ThemeColor(theme, role))) return std::nullopt;
    return colors[role];
  };
  TStatusColors result;
  result.Background = orPalette(0);
  result.Downloading = colors[1];
  result.Paused = colors[2];
  result.Done = colors[3];
  result.Error = colors[4];
  result.Other = orPalette(5);
  return result;
}

}  // namespace brindle
