#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brindle {

enum class TReadResult { Ok, Missing, Failed };

// The whole content of a file into text (empty unless Ok).
TReadResult ReadFileText(const std::string& path, std::string& text);

// The lines of a text; a line ends at CR LF, at LF or at a CR alone, and a
// line end at the very end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text);

// The text without the spaces, tabs and line ends around it.
std::string Trimmed(std::string_view text);

}  // namespace brindle
