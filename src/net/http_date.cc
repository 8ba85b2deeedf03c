#include "net/http_date.h"

#include <array>

namespace brindle {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = year / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDaysIn[month - 1];
}

// Reads the text left to right; every step fails for good once one has.
class TDateReader {
 public:
  explicit TDateReader(std::string_view text) : text_(text) {}

  bool Ok() const { return ok_; }
  bool AtEnd() const { return ok_ && pos_ == text_.size(); }

  void Expect(std::string_view literal) {
    if (ok_ && text_.substr(pos_, literal.size()) == literal) {
      pos_ += literal.size();
    } else {
      ok_ = false;
    }
  }
  // Exactly count digits (a blank may stand for a leading zero when
  // blankPadded).
  int64_t Digits(size_t count, bool blankPadded = false) {
    int64_t value = 0;
    for (size_t i = 0; i < count && ok_; ++i, ++pos_) {
      const char c = pos_ < text_.size() ? text_[pos_] : '\0';
      if (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
      } else if (!(blankPadded && c == ' ' && i + 1 < count && value == 0)) {
        ok_ = false;
      }
    }
    return value;
  }
  int Month() {
    for (size_t m = 0; m < kMonths.size(); ++m) {
      if (ok_ && text_.substr(pos_, 3) == kMonths[m]) {
        pos_ += 3;
        return static_cast<int>(m) + 1;
      }
    }
    ok_ = false;
    return 0;
  }
  // A day name, short or long, as the form wants it.
  void DayName(bool longName) {
    static constexpr std::array<std::string_view, 7> kLong = {"Thursday", "Friday", "Saturday", "Sunday",
                                                             "Monday",   "Tuesday", "Wednesday"};
    for (std::string_view name : longName ? kLong : kDays) {
      if (ok_ && text_.substr(pos_, name.size()) == name) {
        pos_ += name.size();
        return;
      }
    }
    ok_ = false;
  }
  void Time(int64_t& hour, int64_t& minute, int64_t& second) {
    hour = Digits(2);
    Expect(":");
    minute = Digits(2);
    Expect(":");
    second = Digits(2);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  bool ok_ = true;
};

std::optional<int64_t> Moment(int64_t year, int month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
  if (year < 1970 || year > 9999 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 60)
    return std::nullopt;
  return DaysFromCivil(year, month, static_cast<int>(day)) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> ParseHttpDate(std::string_view text) {
  int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int month = 0;
  const size_t comma = text.find(',');
  if (comma == 3) {
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    TDateReader r(text);
    r.DayName(false);
    r.Expect(", ");
    day = r.Digits(2);
    r.Expect(" ");
    month = r.Month();
    r.Expect(" ");
    year = r.Digits(4);
    r.Expect(" ");
    r.Time(hour, minute, second);
    r.Expect(" GMT");
    if (!r.AtEnd()) return std::nullopt;
  } else if (comma != std::string_view::npos) {
    // "Sunday, 06-Nov-94 08:49:37 GMT": a two-digit year from 1970 to 2069.
    TDateReader r(text);
    r.DayName(true);
    r.Expect(", ");
    day = r.Digits(2);
    r.Expect("-");
    month = r.Month();
    r.Expect("-");
    year = r.Digits(2);
    year += year >= 70 ? 1900 : 2000;
    r.Expect(" ");
    r.Time(hour, minute, second);
    r.Expect(" GMT");
    if (!r.AtEnd()) return std::nullopt;
  } else {
    // "Sun Nov  6 08:49:37 1994"
    TDateReader r(text);
    r.DayName(false);
    r.Expect(" ");
    month = r.Month();
    r.Expect(" ");
    day = r.Digits(2, true);
    r.Expect(" ");
    r.Time(hour, minute, second);
    r.Expect(" ");
    year = r.Digits(4);
    if (!r.AtEnd()) return std::nullopt;
  }
  return Moment(year, month, day, hour, minute, second);
}

std::string HttpDateText(int64_t seconds) {
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  // The civil date of a day count (the inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const std::string_view weekday = kDays[static_cast<size_t>(((days % 7) + 7) % 7)];
  const auto padded = [](int64_t value, size_t width) {
    std::string digits = std::to_string(value);
    return std::string(digits.size() < width ? width - digits.size() : 0, '0') + digits;
  };
  return std::string(weekday) + ", " + padded(day, 2) + " " + std::string(kMonths[static_cast<size_t>(month - 1)]) +
         " " + padded(year, 4) + " " + padded(inDay / 3600, 2) + ":" + padded(inDay / 60 % 60, 2) + ":" +
         padded(inDay % 60, 2) + " GMT";
}

int64_t RetryAfterSeconds(std::string_view value, int64_t nowSeconds) {
  if (!value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string_view::npos) {
    int64_t seconds = 0;
    for (const char c : value) seconds = seconds * 10 + (c - '0');
    return seconds;
  }
  const std::optional<int64_t> moment = ParseHttpDate(value);
  if (!moment) return -1;
  return *moment > nowSeconds ? *moment - nowSeconds : 0;
}

}  // namespace brindle
