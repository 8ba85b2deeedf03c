#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Case folding of the ASCII letters only; other bytes are left alone.
std::string LowerCaseAscii(std::string_view text);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

}  // namespace brindle
