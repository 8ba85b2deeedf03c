#include "net/http_date.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

constexpr int64_t kNov6 = 784111777;  // 1994-11-06 08:49:37 UTC

TEST(HttpDateTest, ReadsTheThreeFormsAndNothingElse) {
  const struct {
    const char* text;
    int64_t seconds;  // -1: refused
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kNov6},
      {"Sun Nov  6 08:49:37 1994", kNov6},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
      {"Wednesday, 01-Jan-31 00:00:00 GMT", 1924992000},  // a two-digit year below 70 is this century's
      {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
      {"Sun, 06 Nov 1994 08:49:37 UTC", -1},
      {"Sun, 6 Nov 1994 08:49:37 GMT", -1},
      {"Sun, 06 Nov 1994 08:49:37 GMT ", -1},
      {"Sun, 29 Feb 2027 00:00:00 GMT", -1},
      {"Sun, 06 Nov 1994 24:00:00 GMT", -1},
      {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
      {"Sun, 06 Foo 1994 08:49:37 GMT", -1},
      {"Sun Nov 6 08:49:37 1994", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto seconds = ParseHttpDate(c.text);
    EXPECT_EQ(seconds.value_or(-1), c.seconds);
    if (seconds && *seconds == kNov6) {
      EXPECT_EQ(HttpDateText(*seconds), "Sun, 06 Nov 1994 08:49:37 GMT");
    }
  }
}

TEST(HttpDateTest, RetryAfterIsSecondsOrADate) {
  const struct {
    const char* value;
    int64_t seconds;
  } cases[] = {
      {"120", 120}, {"0", 0}, {"Sun, 06 Nov 1994 08:51:37 GMT", 120}, {"Sun, 06 Nov 1994 08:00:00 GMT", 0},
      {"-5", -1},   {"1.5", -1}, {"soon", -1}, {"99999999999999999999", -1}, {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(RetryAfterSeconds(c.value, kNov6), c.seconds) << c.value;
}

}  // namespace
}  // namespace brindle
