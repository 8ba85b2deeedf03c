#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/download_status.h"
#include "core/settings_schema.h"

namespace brindle {

// The six colours of the download list under the chosen theme
// ("ColorTheme": 0 standard, 1 the Brindle theme, else custom). Values are
// 0x00BBGGRR; a value with the high bit set names a system colour. An
// empty colour (a key the standard theme lacks) means the desktop palette's
// own colour for that role, so the list stays readable in a dark theme.
struct TStatusColors {
  std::optional<uint32_t> Background;
  std::optional<uint32_t> Downloading;
  std::optional<uint32_t> Paused;
  std::optional<uint32_t> Done;
  std::optional<uint32_t> Error;
  std::optional<uint32_t> Other;

  const std::optional<uint32_t>& For(TStatusColor group) const;
};

TStatusColors LoadColorSettingsFromRegistry();

// A theme's six colours in the order of setting::kColorRoles (0 standard,
// 1 Brindle, else custom): its defaults, and as stored with missing ones at
// their defaults.
std::array<uint32_t, 6> ThemeDefaultColors(int theme);
std::array<uint32_t, 6> LoadThemeColors(int theme);
// Reset is offered for the two named themes once a colour differs from its default.
bool ThemeCanReset(int theme, const std::array<uint32_t, 6>& colors);

}  // namespace brindle
