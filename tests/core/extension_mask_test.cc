#include "core/extension_mask.h"

#include <gtest/gtest.h>

#include <chrono>

#include "core/memory_registry.h"
#include "core/paths.h"
#include "core/settings.h"

namespace brindle {
namespace {

TEST(ExtensionMaskTest, MatchesMask) {
  struct Case {
    const char* Text;
    const char* Mask;
    bool Expected;
  };
  const Case cases[] = {
      {"zip", "zip", true},  {"ZIP", "zip", true},     {"zip", "ZIP", true},   {"zi", "zip", false},
      {"", "", true},        {"a", "", false},         {"", "*", true},        {"r0", "r0*", true},
      {"r05", "r0*", true},  {"r5", "r0*", false},     {"abc", "a?c", true},   {"ac", "a?c", false},
      {"mp33", "m*3", true}, {"mp34", "m*3", false},   {"abcbc", "*bc", true}, {"abcbd", "*b*c", false},
      {"r5", "r[0-9]", true}, {"rA", "r[0-9]", false}, {"rA", "r[!0-9]", true}, {"r5", "r[!0-9]", false},
      {"B", "[a-c]", true},  {"d", "[a-c]", false},    {"b", "[xbz]", true},  {"a", "[a", false},
      {"a", "*[a", false},   {"x", "[]", false},       {"-", "[a-]", true},   {"[", "[[]", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.Text, c.Mask), c.Expected) << c.Text << " ~ " << c.Mask;
}

TEST(ExtensionMaskTest, HostileMaskTakesLinearTime) {
  std::string text(20000, 'a');
  std::string mask;
  for (int i = 0; i < 60; ++i) mask += "*a";
  mask += "*b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchesMask(text, mask));
  // Backtracking into every "*" would take astronomically long.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

class ValidExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistry(&registry_); }
  void TearDown() override { SetRegistry(nullptr); }
  void SetList(const std::string& list) { WriteString(kOptionsSection, "Extensions", list); }

 private:
  MemoryRegistry registry_;
};

// Items are lower-cased masks separated by spaces only; an empty item (or
// no list) matches only the empty extension.
TEST_F(ValidExtensionTest, MatchesTheListsMasks) {
  struct Case {
    std::string List;
    const char* Ext;
    bool Expected;
  };
  const std::string defaults = kDefaultExtensionList, padded = "  ZIP R[0-9][0-9]\t ";
  const Case cases[] = {
      {defaults, "zip", true},   {defaults, "ZIP", true},     {defaults, "Zip", true},   {defaults, "r05", true},
      {defaults, "r0", true},    {defaults, "a17", true},     {defaults, "tiff", true},  {defaults, "gz", true},
      {defaults, "r5", false},   {defaults, "html", false},   {defaults, "", false},     {defaults, "zipx", false},
      {defaults, "tar.gz", false},
      {padded, "zip", true},     {padded, "r42", true},       {padded, "", false},       {"zip\trar", "zip", false},
      {"", "", true},            {"", "zip", false},          {"zip  rar", "", true},    {"zip  rar", "rar", true},
  };
  for (const Case& c : cases) {
    SetList(c.List);
    EXPECT_EQ(ValidExtension(c.Ext), c.Expected) << "[" << c.List << "] " << c.Ext;
  }
}

}  // namespace
}  // namespace brindle
