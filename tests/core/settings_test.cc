#include "core/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <stdexcept>

#include "core/log_error.h"
#include "core/memory_registry.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

const std::string kOptionsKey = std::string(kProductKey) + "\\Options";

RegistryValue Value(RegistryType type, uint32_t dword, std::string data = {}) {
  return RegistryValue{type, dword, std::move(data)};
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistry(&registry_); }
  void TearDown() override { SetRegistry(nullptr); }
  MemoryRegistry registry_;
};

TEST_F(SettingsTest, ReadOfMissingSectionGivesDefaultsAndCreatesNothing) {
  EXPECT_TRUE(ReadBool("Options", "ShowSaveDialog", true));
  EXPECT_EQ(ReadInteger("Options", "SplitParts", 4), 4);
  EXPECT_EQ(ReadString("Options", "Date1", "Month"), "Month");
  EXPECT_EQ(ReadDateTime("Options", "StartTime", 1.5), 1.5);
  EXPECT_TRUE(registry_.Keys().empty());
}

TEST_F(SettingsTest, WriteToFreshProfileCreatesProductKeySectionAndValue) {
  WriteInteger("Options", "SplitParts", 7);
  EXPECT_TRUE(registry_.KeyExists(kProductKey));
  const auto stored = registry_.GetValue(kOptionsKey, "SplitParts");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->Type, RegistryType::Dword);
  EXPECT_EQ(stored->Dword, 7u);
}

TEST_F(SettingsTest, EveryTypeRoundTrips) {
  for (const bool value : {true, false}) {
    WriteBool("Options", "Flag", value);
    EXPECT_EQ(ReadBool("OPTIONS", "flag", !value), value);
  }
  for (const int value : {0, -5, INT_MIN, INT_MAX}) {
    WriteInteger("Options", "Number", value);
    EXPECT_EQ(ReadInteger("Options", "Number", 99), value);
  }
  WriteString("Form_Main Position", "Text", "C:\\x \"y\"\nz");
  EXPECT_EQ(ReadString("Form_Main Position", "Text", ""), "C:\\x \"y\"\nz");
  for (const double value : {46361.765, -1.25, 1.0}) {
    WriteDateTime("Options", "When", value);
    EXPECT_EQ(ReadDateTime("Options", "When", 7.0), value);
  }
  // Eight little-endian bytes of the IEEE double.
  EXPECT_EQ(registry_.GetValue(kOptionsKey, "When")->Data, std::string("\0\0\0\0\0\0\xF0\x3F", 8));
}

// As does an empty stored string.
TEST_F(SettingsTest, ValueOfAnotherTypeReadsAsDefault) {
  WriteString("Options", "DateDivider1", "");
  EXPECT_EQ(ReadString("Options", "DateDivider1", "-"), "-");
  registry_.SetValue(kOptionsKey, "Text42", Value(RegistryType::String, 0, "42"));
  registry_.SetValue(kOptionsKey, "Dword2", Value(RegistryType::Dword, 2));
  registry_.SetValue(kOptionsKey, "Short", Value(RegistryType::Binary, 0, "\x01\x02\x03\x04"));
  WriteDateTime("Options", "Nan", std::nan(""));
  EXPECT_EQ(ReadInteger("Options", "Text42", 5), 5);
  EXPECT_FALSE(ReadBool("Options", "Text42", false));
  EXPECT_TRUE(ReadBool("Options", "Dword2", false));
  EXPECT_EQ(ReadString("Options", "Dword2", "d"), "d");
  EXPECT_EQ(ReadDateTime("Options", "Dword2", 2.0), 2.0);
  EXPECT_EQ(ReadDateTime("Options", "Short", 3.0), 3.0);
  EXPECT_EQ(ReadInteger("Options", "Short", 6), 6);
  EXPECT_EQ(ReadDateTime("Options", "Nan", 4.0), 4.0);
  WriteString("Options", "Dword2", "text");  // replaces the value of another type
  EXPECT_EQ(ReadString("Options", "Dword2", ""), "text");
}

TEST_F(SettingsTest, ProgramPathAndSystemProxy) {
  SetProgramPath("/usr/bin/brindle");
  EXPECT_EQ(registry_.GetValue(kProductKey, "Path")->Data, "/usr/bin/brindle");
  EXPECT_FALSE(UseProxySettings());
  EXPECT_EQ(ReadProxySettings(), "");
  const std::pair<RegistryValue, bool> cases[] = {
      {Value(RegistryType::Dword, 1), true},
      {Value(RegistryType::Dword, 0), false},
      {Value(RegistryType::String, 0, "1"), false},
      {Value(RegistryType::Binary, 0, "\x01\x00\x00\x00"), false},
  };
  for (const auto& [enable, expected] : cases) {
    registry_.SetValue(kInternetSettingsKey, "ProxyEnable", enable);
    EXPECT_EQ(UseProxySettings(), expected);
  }
  registry_.SetValue(kInternetSettingsKey, "ProxyServer", Value(RegistryType::String, 0, "proxy:8080"));
  EXPECT_EQ(ReadProxySettings(), "proxy:8080");
}

// A store whose every call throws, as a broken backend might.
class ThrowingStore : public RegistryStore {
 public:
  bool KeyExists(const std::string&) const override { throw std::runtime_error("broken"); }
  std::optional<RegistryValue> GetValue(const std::string&, const std::string&) const override {
    throw std::runtime_error("broken");
  }
  bool SetValue(const std::string&, const std::string&, const RegistryValue&) override {
    throw std::runtime_error("broken");
  }
};

TEST(SettingsFailureTest, FailuresGiveDefaultsAndAreLogged) {
  ThrowingStore store;
  test::ErrorReports reports;
  SetRegistry(&store);
  EXPECT_EQ(ReadInteger("Options", "SplitParts", 4), 4);
  EXPECT_EQ(ReadString("Options", "Date1", "Month"), "Month");
  WriteBool("Options", "Flag", true);
  EXPECT_FALSE(UseProxySettings());
  SetRegistry(nullptr);
  EXPECT_EQ(reports.Lines(), (std::vector<std::string>{"ReadInteger: broken", "ReadString: broken", "WriteBool: broken",
                                                       "UseProxySettings: broken"}));
  // Without an installed store the in-memory one serves.
  WriteInteger("SettingsFailureTest", "Value", 12);
  EXPECT_EQ(ReadInteger("SettingsFailureTest", "Value", 0), 12);
}

}  // namespace
}  // namespace brindle
