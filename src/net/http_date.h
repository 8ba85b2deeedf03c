#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The moment an HTTP date names, in seconds since 1970-01-01 00:00 UTC. Takes
// the form servers send today ("Sun, 06 Nov 1994 08:49:37 GMT") and the two
// older ones ("Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994");
// nothing for anything else or a moment before 1970 or after 9999.
std::optional<int64_t> ParseHttpDate(std::string_view text);

// The moment in the form servers send today.
std::string HttpDateText(int64_t seconds);

// A Retry-After value (a number of seconds, or a date reached from
// nowSeconds) as the seconds to wait: 0 for a date already past, -1 for a
// value that is neither.
int64_t RetryAfterSeconds(std::string_view value, int64_t nowSeconds);

}  // namespace brindle
