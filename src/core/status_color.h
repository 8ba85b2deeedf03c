#pragma once

#include <string>

namespace brindle {

// The colour group a download's status is drawn in; the theme gives each
// group its colour.
enum class TStatusColor { Downloading, Paused, Done, Error, Other };

// Exact, case-sensitive comparison with the status texts.
TStatusColor GetStatusColor(const std::string& status);

}  // namespace brindle
