#pragma once

#include <string>

namespace brindle {

// Today's date as a folder name, from the options Date1..Date3 ("Year",
// "Month", "Day"; default Month, Day, Year) and DateDivider1/2 (default "-",
// "none" for no divider): "12-05-2026" for 5 December 2026 by default.
// "Invalid Date!" when the date cannot be had.
std::string GetDateFolderName();

}  // namespace brindle
