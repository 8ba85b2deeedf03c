#include "core/presentation.h"

#include <limits>

namespace brindle {
namespace {

constexpr int64_t kKb = 1024;
constexpr int64_t kMb = 1024 * kKb;
constexpr int64_t kGb = 1024 * kMb;

// bytes / unit with two decimals, exact integer arithmetic (no locale, no
// binary rounding surprises); a half hundredth rounds up.
std::string TwoDecimals(int64_t bytes, int64_t unit) {
  int64_t whole = bytes / unit;
  int64_t scaled = (bytes % unit) * 100;
  int64_t hundredths = scaled / unit;
  if ((scaled % unit) * 2 >= unit) ++hundredths;
  if (hundredths == 100) {
    ++whole;
    hundredths = 0;
  }
  return std::to_string(whole) + (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths);
}

std::string TwoDigits(int64_t value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

// Parses a run of decimal digits; false when empty, not digits or too large.
bool ParseDigits(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (value > (std::numeric_limits<int64_t>::max() - 9) / 10) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::string BytesToPresentableString(int64_t bytes) {
  if (bytes == -1) return "Unknown";
  if (bytes > kGb) return TwoDecimals(bytes, kGb) + " Gb";
  if (bytes > kMb) return TwoDecimals(bytes, kMb) + " Mb";
  if (bytes > kKb) {
    int64_t whole = bytes / kKb;
    int64_t rest = bytes % kKb;
    if (rest * 2 > kKb || (rest * 2 == kKb && whole % 2 == 1)) ++whole;
    return std::to_string(whole) + " kb";
  }
  return std::to_string(bytes) + " bytes";
}

std::string SecondsToTimeString(int64_t seconds) {
  if (seconds < 0) return "Number out of range";
  int64_t hours = seconds / 3600;
  int64_t minutes = seconds % 3600 / 60;
  return TwoDigits(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(seconds % 60);
}

int64_t TimeStringToSeconds(const std::string& text) {
  // "H...H:MM:SS": the hours take as many digits as they need.
  size_t first = text.find(':');
  if (first == std::string::npos || text.size() != first + 6 || text[first + 3] != ':') return 0;
  int64_t hours = 0, minutes = 0, seconds = 0;
  if (!ParseDigits(text.substr(0, first), hours) || !ParseDigits(text.substr(first + 1, 2), minutes) ||
      !ParseDigits(text.substr(first + 4, 2), seconds)) {
    return 0;
  }
  if (hours > (std::numeric_limits<int64_t>::max() - 99 * 60 - 99) / 3600) return 0;
  return hours * 3600 + minutes * 60 + seconds;
}

std::string EscapeControlCharacters(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto escaped = [](const char* prefix, unsigned char c) {
    return std::string(prefix) + kHex[c >> 4] + kHex[c & 15];
  };
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      result += escaped("\\x", c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      result += static_cast<char>(c);
      ++i;
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, 0 if none.
    const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool wellFormed = length > 0 && i + length <= text.size();
    for (size_t k = 1; wellFormed && k < length; ++k)
      wellFormed = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!wellFormed) {
      // A stray byte: in the C1 range a terminal outside UTF-8 would obey it.
      if (c <= 0x9F) result += escaped("\\x", c);
      else result += static_cast<char>(c);
      ++i;
      continue;
    }
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (c == 0xC2 && second <= 0x9F) result += escaped("\\u00", second);
    else result.append(text.substr(i, length));
    i += length;
  }
  return result;
}

}  // namespace brindle
