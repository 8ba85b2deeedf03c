#include "manager/status_colors.h"

#include <string>

#include "core/settings.h"

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

TStatusColors LoadColorSettingsFromRegistry() {
  const int theme = ReadInteger(kOptionsSection, "ColorTheme", 0);
  const bool brindle = theme == 1;
  const std::string prefix = theme == 0 ? "Standard_Color_" : brindle ? "Brindle_Color_" : "Custom_Color_";
  const auto read = [&](const char* suffix, uint32_t standard, uint32_t brindleDefault,
                        bool standardUsesPalette) -> std::optional<uint32_t> {
    // Two reads with different defaults tell a missing key from a stored one.
    const int stored = ReadInteger(kOptionsSection, prefix + suffix, 0);
    if (stored != 0 || ReadInteger(kOptionsSection, prefix + suffix, 1) == 0) return static_cast<uint32_t>(stored);
    if (brindle) return brindleDefault;
    if (theme == 0 && standardUsesPalette) return std::nullopt;
    return standard;
  };
  TStatusColors colors;
  colors.Background = read("Background", kSystemWindowColor, 0xF0FBFF, true);
  colors.Downloading = read("Downloading", 0x008000, 0x008000, false);
  colors.Paused = read("Paused", 0x008080, kSystemGrayTextColor, false);
  colors.Done = read("Done", 0xFF0000, 0x800000, false);
  colors.Error = read("Error", 0x0000FF, 0x000080, false);
  colors.Other = read("Other", 0, 0, true);
  return colors;
}

}  // namespace brindle
