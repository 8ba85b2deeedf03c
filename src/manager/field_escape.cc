#include "manager/field_escape.h"

namespace brindle {

std::string EscapeField(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': result += "\\\\"; break;
      case '\r': result += "\\r"; break;
      case '\n': result += "\\n"; break;
      case '\t': result += "\\t"; break;
      default: result += c;
    }
  }
  return result;
}

std::string UnescapeField(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      result += c;
      continue;
    }
    switch (text[i + 1]) {
      case '\\': result += '\\'; break;
      case 'r': result += '\r'; break;
      case 'n': result += '\n'; break;
      case 't': result += '\t'; break;
      default: result += c; continue;
    }
    ++i;
  }
  return result;
}

}  // namespace brindle
