#include "core/date_folder.h"

#include "core/date_time.h"
#include "core/log_error.h"
#include "core/settings_schema.h"

namespace brindle {
namespace {

std::string Padded(int value, size_t width) {
  std::string digits = std::to_string(value);
  return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

std::string Part(const TStringSetting& setting, const TDateParts& today) {
  const std::string name = Read(setting);
  if (name == "Year") return Padded(today.Year, 4);
  if (name == "Month") return Padded(today.Month, 2);
  if (name == "Day") return Padded(today.Day, 2);
  return "";
}

std::string Divider(const TStringSetting& setting) {
  const std::string divider = Read(setting);
  return divider == "none" ? "" : divider;
}

}  // namespace

std::string GetDateFolderName() {
  try {
    TDateParts today = DecodeDateTime(Date());
    return Part(setting::Date1, today) + Divider(setting::DateDivider1) + Part(setting::Date2, today) +
           Divider(setting::DateDivider2) + Part(setting::Date3, today);
  } catch (...) {
    LogError("GetDateFolderName");
  }
  return "Invalid Date!";
}

}  // namespace brindle
