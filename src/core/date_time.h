#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brindle {

// Dates and times are day counts since 30 December 1899 in local time, the
// fraction being the time of day (the OLE automation form).
using TDateTime = double;

struct TDateParts {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Local wall time now, from the program clock.
TDateTime Now();
// Today's date (the whole-day part of Now()).
TDateTime Date();

TDateTime DateTimeFromUnixMs(int64_t unixMs);  // local time zone
int64_t UnixMsFromDateTime(TDateTime value);   // local time zone

// Calendar conversion of the day count itself, no time zone involved.
TDateParts DecodeDateTime(TDateTime value);
std::optional<TDateTime> EncodeDateTime(const TDateParts& parts);

// The locale-independent text form used in files: "2026-12-06 18:33:41.250".
std::string DateTimeToText(TDateTime value);
// Reads that form back (seconds and milliseconds optional); nullopt when the
// text is not one.
std::optional<TDateTime> TextToDateTime(const std::string& text);

}  // namespace brindle
