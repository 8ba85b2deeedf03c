#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// A size as the user reads it: "Unknown" for -1, else "N bytes", above
// 1024 bytes whole "kb" (halves to even), above 1 MiB "Mb" and above 1 GiB
// "Gb" with two decimals and "." as the separator whatever the locale.
std::string BytesToPresentableString(int64_t bytes);

// "HH:MM:SS", hours growing past two digits when needed; "Number out of
// range" for a negative count.
std::string SecondsToTimeString(int64_t seconds);

// Reads a text made by SecondsToTimeString back; 0 for any other text.
int64_t TimeStringToSeconds(const std::string& text);

// text as a terminal may safely show it: C0 control characters and DEL as
// "\xHH", C1 controls (U+0080..U+009F) as "\u00HH", and a byte 0x80..0x9F
// outside a UTF-8 sequence as "\xHH", so that a name from outside cannot
// move the cursor, set colours or the title, or forge a line of output.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace brindle
