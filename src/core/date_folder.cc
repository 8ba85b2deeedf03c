#include "core/date_folder.h"

#include "core/date_time.h"
#include "core/log_error.h"
#include "core/settings.h"

namespace brindle {
namespace {

std::string Padded(int value, size_t width) {
  std::string digits = std::to_string(value);
  return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

std::string Part(const std::string& key, const char* defaultName, const TDateParts& today) {
  std::string name = ReadString(kOptionsSection, key, defaultName);
  if (name == "Year") return Padded(today.Year, 4);
  if (name == "Month") return Padded(today.Month, 2);
  if (name == "Day") return Padded(today.Day, 2);
  return "";
}

std::string Divider(const std::string& key) {
  std::string divider = ReadString(kOptionsSection, key, "-");
  return divider == "none" ? "" : divider;
}

}  // namespace

std::string GetDateFolderName() {
  try {
    TDateParts today = DecodeDateTime(Date());
    return Part("Date1", "Month", today) + Divider("DateDivider1") + Part("Date2", "Day", today) +
           Divider("DateDivider2") + Part("Date3", "Year", today);
  } catch (...) {
    LogError("GetDateFolderName");
  }
  return "Invalid Date!";
}

}  // namespace brindle
