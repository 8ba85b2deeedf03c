#include "core/presentation.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace brindle {
namespace {

constexpr int64_t kMiB = 1048576;
constexpr int64_t kGiB = 1073741824;

TEST(PresentationTest, BytesToPresentableString) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {-1, "Unknown"},
      {-5, "-5 bytes"},
      {1024, "1024 bytes"},
      {1025, "1 kb"},
      {1536, "2 kb"},  // 1.5: halves go to the even number
      {2560, "2 kb"},  // 2.5
      {3584, "4 kb"},  // 3.5
      {kMiB, "1024 kb"},
      {kMiB + 1, "1.00 Mb"},
      {kMiB + kMiB / 2, "1.50 Mb"},
      {kMiB + kMiB / 8, "1.13 Mb"},  // 1.125: a half hundredth rounds up
      {2 * kMiB - 1, "2.00 Mb"},
      {kGiB, "1024.00 Mb"},
      {kGiB + 1, "1.00 Gb"},
      {2 * kGiB, "2.00 Gb"},
      {3 * kGiB, "3.00 Gb"},
      {4 * kGiB + kGiB / 4, "4.25 Gb"},
      {5 * kGiB, "5.00 Gb"},
      {1024 * kGiB * 1024, "1048576.00 Gb"},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(BytesToPresentableString(bytes), expected) << bytes;
}

// What a terminal would obey is shown, not sent: C0, DEL and C1 controls,
// and C1 bytes outside UTF-8; other text, UTF-8 included, stays as it is.
TEST(PresentationTest, EscapeControlCharacters) {
  const std::string utf8 = "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x93\xa6 \xc4\x9b";
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.zip", "plain name.zip"},
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
      {"a\nb\r\tc\x7f", "a\\x0ab\\x0d\\x09c\\x7f"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"\xc2\x9b" "31m \xc2\x85 \xc2\x9f \xc2\xa0", "\\u009b31m \\u0085 \\u009f \xc2\xa0"},
      {utf8, utf8},
      {"\x9b" "2J \xe9t\xe9 \xc2", "\\x9b2J \xe9t\xe9 \xc2"},  // not UTF-8: stray bytes
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(EscapeControlCharacters(text), shown) << shown;
}

// TimeStringToSeconds reads what SecondsToTimeString writes.
TEST(PresentationTest, SecondsToTimeStringAndBack) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "00:00:00"},     {59, "00:00:59"},    {60, "00:01:00"},       {3725, "01:02:05"},
      {36000, "10:00:00"}, {86399, "23:59:59"}, {360000, "100:00:00"}, {123456789, "34293:33:09"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(SecondsToTimeString(seconds), text) << seconds;
    EXPECT_EQ(TimeStringToSeconds(text), seconds) << text;
  }
  EXPECT_EQ(SecondsToTimeString(-1), "Number out of range");
}

TEST(PresentationTest, TimeStringToSecondsGivesZeroForMalformedText) {
  for (const char* text : {"", "abc", "1:2:3", "01:02", "01:02:5x", "01-02-05", "01:02:05 ", " 01:02:05", "-1:00:00",
                           "Number out of range", "99999999999999999999:00:00"}) {
    EXPECT_EQ(TimeStringToSeconds(text), 0) << text;
  }
}

}  // namespace
}  // namespace brindle
