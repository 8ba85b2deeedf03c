#include "core/date_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/clock.h"

namespace brindle {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;
// Day 0 of the day count, 1899-12-30, is this many days before 1970-01-01.
constexpr int64_t kUnixEpochDay = 25569;
// Years 1 to 9999, the range the day count is defined for.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a proleptic Gregorian date (after H. Hinnant's
// civil calendar algorithms; exact for any year).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, TDateParts& parts) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  parts.Day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  parts.Month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  parts.Year = static_cast<int>(yearOfEra + era * 400 + (parts.Month <= 2));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

TDateTime UtcDayCount(int64_t unixMs) { return static_cast<double>(unixMs) / kMsPerDay + kUnixEpochDay; }

// Reads exactly count digits at position; -1 when they are not all digits.
int Digits(const std::string& text, size_t position, size_t count) {
  if (position + count > text.size()) return -1;
  int value = 0;
  for (size_t i = position; i < position + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

TDateParts DecodeDateTime(TDateTime value) {
  TDateParts parts;
  if (!std::isfinite(value)) return parts;
  const double whole = std::trunc(value);
  if (whole < kFirstDay || whole > kLastDay) return parts;
  int64_t day = static_cast<int64_t>(whole);
  // Before day 0 the fraction still counts forward from midnight: -1.25 is
  // 1899-12-29 06:00.
  int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ++day;
    ms -= kMsPerDay;
  }
  CivilFromDays(day - kUnixEpochDay, parts);
  parts.Hour = static_cast<int>(ms / 3'600'000);
  parts.Minute = static_cast<int>(ms / 60'000 % 60);
  parts.Second = static_cast<int>(ms / 1000 % 60);
  parts.Millisecond = static_cast<int>(ms % 1000);
  return parts;
}

std::optional<TDateTime> EncodeDateTime(const TDateParts& parts) {
  if (parts.Year < 1 || parts.Year > 9999 || parts.Month < 1 || parts.Month > 12) return std::nullopt;
  if (parts.Day < 1 || parts.Day > DaysInMonth(parts.Year, parts.Month)) return std::nullopt;
  if (parts.Hour < 0 || parts.Hour > 23 || parts.Minute < 0 || parts.Minute > 59) return std::nullopt;
  if (parts.Second < 0 || parts.Second > 59 || parts.Millisecond < 0 || parts.Millisecond > 999) return std::nullopt;
  const int64_t day = DaysFromCivil(parts.Year, parts.Month, parts.Day) + kUnixEpochDay;
  const int64_t ms =
      ((parts.Hour * 60LL + parts.Minute) * 60 + parts.Second) * 1000 + parts.Millisecond;
  const double time = static_cast<double>(ms) / kMsPerDay;
  return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

TDateTime DateTimeFromUnixMs(int64_t unixMs) {
  const int64_t seconds = FloorDiv(unixMs, 1000);
  const time_t asTime = static_cast<time_t>(seconds);
  tm local{};
  if (!localtime_r(&asTime, &local)) return UtcDayCount(unixMs);
  TDateParts parts;
  parts.Year = local.tm_year + 1900;
  parts.Month = local.tm_mon + 1;
  parts.Day = local.tm_mday;
  parts.Hour = local.tm_hour;
  parts.Minute = local.tm_min;
  parts.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  parts.Millisecond = static_cast<int>(unixMs - seconds * 1000);
  return EncodeDateTime(parts).value_or(UtcDayCount(unixMs));
}

int64_t UnixMsFromDateTime(TDateTime value) {
  const TDateParts parts = DecodeDateTime(value);
  if (parts.Year == 0) {
    if (!std::isfinite(value) || std::fabs(value) > 1e7) return 0;
    return std::llround((value - kUnixEpochDay) * kMsPerDay);
  }
  tm local{};
  local.tm_year = parts.Year - 1900;
  local.tm_mon = parts.Month - 1;
  local.tm_mday = parts.Day;
  local.tm_hour = parts.Hour;
  local.tm_min = parts.Minute;
  local.tm_sec = parts.Second;
  local.tm_isdst = -1;
  // mktime leaves tm_wday alone when it fails; -1 is also a valid time.
  local.tm_wday = -1;
  const time_t seconds = mktime(&local);
  if (local.tm_wday == -1) {
    const int64_t utcDay = DaysFromCivil(parts.Year, parts.Month, parts.Day);
    const int64_t msOfDay = ((parts.Hour * 60LL + parts.Minute) * 60 + parts.Second) * 1000;
    return utcDay * kMsPerDay + msOfDay + parts.Millisecond;
  }
  return static_cast<int64_t>(seconds) * 1000 + parts.Millisecond;
}

TDateTime Now() { return DateTimeFromUnixMs(ProgramClock().WallMs()); }

TDateTime Date() { return std::trunc(Now()); }

std::string DateTimeToText(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second, p.Millisecond);
  return text;
}

std::optional<TDateTime> TextToDateTime(const std::string& text) {
  // "YYYY-MM-DD HH:MM", then optionally ":SS", then optionally "." and one
  // to three digits of the second's fraction.
  TDateParts parts;
  parts.Year = Digits(text, 0, 4);
  parts.Month = Digits(text, 5, 2);
  parts.Day = Digits(text, 8, 2);
  parts.Hour = Digits(text, 11, 2);
  parts.Minute = Digits(text, 14, 2);
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':')
    return std::nullopt;
  size_t position = 16;
  if (position < text.size()) {
    if (text[position] != ':') return std::nullopt;
    parts.Second = Digits(text, position + 1, 2);
    if (parts.Second < 0) return std::nullopt;
    position += 3;
  }
  if (position < text.size()) {
    if (text[position] != '.') return std::nullopt;
    const size_t count = text.size() - position - 1;
    if (count < 1 || count > 3) return std::nullopt;
    parts.Millisecond = Digits(text, position + 1, count);
    if (parts.Millisecond < 0) return std::nullopt;
    for (size_t i = count; i < 3; ++i) parts.Millisecond *= 10;
  }
  return EncodeDateTime(parts);
}

}  // namespace brindle
