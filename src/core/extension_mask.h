#pragma once

#include <string>
#include <string_view>

namespace brindle {

// File-name mask matching ignoring ASCII case: "*" matches any run of
// characters, "?" exactly one, "[...]" one character of a set with ranges
// ("[a-z0-9]") and "!" negation ("[!0-9]"). A mask with an unclosed "["
// matches nothing. Time is bounded by text length x mask length.
bool MatchesMask(std::string_view text, std::string_view mask);

// True when the extension (without its dot) matches an item of the
// monitored list, the option "Extensions": items are separated by single
// spaces, and an empty item (two spaces in a row) matches only an empty
// extension.
bool ValidExtension(const std::string& extension);

}  // namespace brindle
