#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/url.h"
#include "manager/url_history.h"
#include "manager/viewer_text.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using UrlHistoryTest = test::ManagerTest;

TEST_F(UrlHistoryTest, TenthAddressDropsTheOldestAndARepeatedOneStays) {
  {
    TUrlHistory history;
    for (int i = 1; i <= 9; ++i) history.Add("http://h/" + std::to_string(i));
    history.Add("http://h/3");
    history.Add("  ");
  }
  std::vector<std::string> expected;
  for (int i = 1; i <= 9; ++i) expected.push_back("http://h/" + std::to_string(i));
  EXPECT_EQ(TUrlHistory().Items(), expected);
  TUrlHistory().Add("http://h/10");
  expected.erase(expected.begin());
  expected.push_back("http://h/10");
  EXPECT_EQ(TUrlHistory().Items(), expected);
  EXPECT_EQ(test::ReadWholeFile(TUrlHistory::DefaultFileName()).substr(0, 10), "http://h/2");

  // A longer file written elsewhere shows its newest nine.
  std::string text;
  for (int i = 0; i < 12; ++i) text += "ftp://f/" + std::to_string(i) + "\r\n";
  test::WriteWholeFile(TUrlHistory::DefaultFileName(), text);
  EXPECT_EQ(TUrlHistory().Items().front(), "ftp://f/3");
}

TEST(ViewerText, InvalidUtf8IsReplacedAndTheLimitHolds) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain\n", "plain\n"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"\xE2\x82" "A", "\xEF\xBF\xBD" "A"},       // a cut sequence is one replacement
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},   // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(ValidUtf8(bytes), text);

  test::TempDir dir;
  test::WriteWholeFile(dir.File("f"), "ab\xC3\xA9");
  EXPECT_EQ(LoadViewerText(dir.File("f"), 3), "ab\xEF\xBF\xBD");
  EXPECT_EQ(LoadViewerText(dir.File("f")), "ab\xC3\xA9");
  EXPECT_EQ(LoadViewerText(dir.File("missing")), "");
}

}  // namespace
}  // namespace brindle
