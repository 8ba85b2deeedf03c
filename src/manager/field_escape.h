#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Texts stored in line-based files (record files, cat.dat, serverstats.txt)
// must stay on one line and inside their field. A backslash, CR, LF and TAB
// are written as "\\", "\r", "\n" and "\t"; every other byte is kept, so an
// ordinary text is stored unchanged.
std::string EscapeField(std::string_view text);

// The inverse of EscapeField. A backslash before any other character (or at
// the end) is kept as it is, so hand-written files read leniently.
std::string UnescapeField(std::string_view text);

}  // namespace brindle
