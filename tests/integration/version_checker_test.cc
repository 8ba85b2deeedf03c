#include "integration/version_checker.h"

#include <gtest/gtest.h>

#include <optional>

namespace brindle {
namespace {

TEST(CompareVersionsTest, DecimalNumbers) {
  struct Case {
    const char *A, *B;
    std::optional<int> Order{};
  };
  const Case cases[] = {
      {"1.30", "1.22", 1},  {"1.3", "1.22", 1},     {"1.22", "1.220", 0}, {"1.21", "1.3", -1},
      {"2", "1.99", 1},     {"1.22.0", "1.22", {}},
      {"010.0", "9.9", 1},  {" 1.23 ", "1.23", 0}, {"123456789012345678901", "123456789012345678900", 1},
      {"", "1", {}},        {"1.", "1", {}},        {"1..2", "1", {}},   {"1.2a", "1", {}},
      {"-1", "1", {}},      {"1,5", "1", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(CompareVersions(c.A, c.B), c.Order) << c.A << " vs " << c.B;
}

}  // namespace
}  // namespace brindle
