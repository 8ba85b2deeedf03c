#include "core/extension_mask.h"

#include "core/ascii_case.h"
#include "core/log_error.h"
#include "core/settings_schema.h"

namespace brindle {
namespace {

constexpr auto npos = std::string_view::npos;

// Matches c against the set starting at mask[open] == '['. Returns the index
// after the closing "]", or npos when the set is not closed.
size_t MatchSet(std::string_view mask, size_t open, char c, bool& matched) {
  size_t p = open + 1;
  bool negate = p < mask.size() && mask[p] == '!';
  if (negate) ++p;
  bool found = false;
  char folded = LowerAscii(c);
  while (p < mask.size() && mask[p] != ']') {
    char low = LowerAscii(mask[p]);
    char high = low;
    if (p + 2 < mask.size() && mask[p + 1] == '-' && mask[p + 2] != ']') {
      high = LowerAscii(mask[p + 2]);
      p += 3;
    } else {
      p += 1;
    }
    if (folded >= low && folded <= high) found = true;
  }
  if (p >= mask.size()) return npos;
  matched = found != negate;
  return p + 1;
}

}  // namespace

bool MatchesMask(std::string_view text, std::string_view mask) {
  // Greedy matching that backtracks only to the latest "*": every other
  // element takes exactly one character, so this finds a match whenever one
  // exists without exponential retries.
  size_t t = 0, p = 0;
  size_t star = npos, starText = 0;
  while (t < text.size()) {
    bool advanced = false;
    if (p < mask.size()) {
      char m = mask[p];
      if (m == '*') {
        star = p++;
        starText = t;
        continue;
      }
      if (m == '?') {
        ++p;
        ++t;
        advanced = true;
      } else if (m == '[') {
        bool matched = false;
        size_t next = MatchSet(mask, p, text[t], matched);
        if (next == npos) return false;
        if (matched) {
          p = next;
          ++t;
          advanced = true;
        }
      } else if (LowerAscii(m) == LowerAscii(text[t])) {
        ++p;
        ++t;
        advanced = true;
      }
    }
    if (!advanced) {
      if (star == npos) return false;
      p = star + 1;
      t = ++starText;
    }
  }
  while (p < mask.size() && mask[p] == '*') ++p;
  return p == mask.size();
}

bool ValidExtension(const std::string& extension) {
  try {
    std::string list = Read(setting::ExtensionsAsStored);
    for (char& c : list) c = LowerAscii(c);
    size_t first = 0;
    while (first < list.size() && static_cast<unsigned char>(list[first]) <= ' ') ++first;
    size_t last = list.size();
    while (last > first && static_cast<unsigned char>(list[last - 1]) <= ' ') --last;
    list = list.substr(first, last - first) + ' ';
    size_t start = 0;
    for (size_t space = list.find(' '); space != std::string::npos; space = list.find(' ', start)) {
      if (MatchesMask(extension, std::string_view(list).substr(start, space - start))) return true;
      start = space + 1;
    }
  } catch (...) {
    LogError("ValidExtension");
  }
  return false;
}

}  // namespace brindle
