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

TEST_F(ValidExtensionTest, DefaultList) {
  SetList(kDefaultExtensionList);
  for (const char* ext : {"zip", "ZIP", "Zip", "r05", "r0", "a17", "tiff", "gz"}) EXPECT_TRUE(ValidExtension(ext)) << ext;
  for (const char* ext : {"r5", "html", "", "zipx", "tar.gz"}) EXPECT_FALSE(ValidExtension(ext)) << ext;
}

TEST_F(ValidExtensionTest, ListIsLowerCasedAndTrimmed) {
  SetList("  ZIP R[0-9][0-9]\t ");
  EXPECT_TRUE(ValidExtension("zip"));
  EXPECT_TRUE(ValidExtension("r42"));
  EXPECT_FALSE(ValidExtension(""));
  // Only spaces separate items.
  SetList("zip\trar");
  EXPECT_FALSE(ValidExtension("zip"));
}

TEST_F(ValidExtensionTest, EmptyItemsMatchOnlyTheEmptyExtension) {
  EXPECT_TRUE(ValidExtension(""));
  EXPECT_FALSE(ValidExtension("zip"));
  SetList("zip  rar");
  EXPECT_TRUE(ValidExtension(""));
  EXPECT_TRUE(ValidExtension("rar"));
}

}  // namespace
}  // namespace brindle
