#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Case folding of the ASCII letters only; other bytes (UTF-8 included) are
// left alone, so names compare the same whatever the locale.
char LowerAscii(char c);
std::string LowerCaseAscii(std::string_view text);
std::string UpperCaseAscii(std::string_view text);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace brindle
