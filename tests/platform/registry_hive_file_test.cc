#include "platform/registry_hive_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

const std::string kOptions = "HKEY_CURRENT_USER\\Software\\Brindle\\Options";

RegistryValue Value(RegistryType type, uint32_t dword, std::string data = {}) {
  return RegistryValue{type, dword, std::move(data)};
}

class RegistryHiveFileTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFileFaultHook({}); }
  std::string HivePath() const { return temp_.File("config/registry.reg"); }
  test::TempDir temp_;
};

TEST_F(RegistryHiveFileTest, EveryTypeRoundTripsThroughTheFile) {
  std::string bytes60;
  for (int i = 0; i < 60; ++i) bytes60 += static_cast<char>(i * 7);
  const std::pair<std::string, RegistryValue> values[] = {
      {"Escapes", Value(RegistryType::String, 0, "C:\\x \"q\" \\\\ \\n Gr\xC3\xBC\xC3\x9F end\\")},
      {"Lines", Value(RegistryType::String, 0, "one\r\ntwo\nthree\r")},
      {"Empty", Value(RegistryType::String, 0, "")},
      {"Minus", Value(RegistryType::Dword, static_cast<uint32_t>(-1))},
      {"NoBytes", Value(RegistryType::Binary, 0, "")},
      {"Long", Value(RegistryType::Binary, 0, bytes60)},
      {"Name \"quoted\"\nwith break", Value(RegistryType::String, 0, "v")},
      {"", Value(RegistryType::String, 0, "default value")},
  };
  {
    RegistryHiveFile hive;
    ASSERT_TRUE(hive.Load(HivePath()));
    for (const auto& [name, value] : values) ASSERT_TRUE(hive.SetValue(kOptions, name, value)) << name;
  }
  RegistryHiveFile reloaded;
  ASSERT_TRUE(reloaded.Load(HivePath()));
  for (const auto& [name, value] : values) {
    const auto read = reloaded.GetValue(kOptions, name);
    ASSERT_TRUE(read) << name;
    EXPECT_TRUE(read->Type == value.Type && read->Dword == value.Dword && read->Data == value.Data) << name;
  }
  EXPECT_EQ(reloaded.Serialize(), ReadWholeFile(HivePath()));
}

TEST_F(RegistryHiveFileTest, WrittenFormat) {
  RegistryHiveFile hive;
  ASSERT_TRUE(hive.Load(HivePath()));
  hive.SetValue(kOptions, "SplitParts", Value(RegistryType::Dword, 10));
  hive.SetValue("HKEY_CURRENT_USER\\Software\\Brindle", "Path", Value(RegistryType::String, 0, "/bin/\"b\""));
  hive.SetValue("HKEY_CURRENT_USER\\Software\\Brindle A", "X", Value(RegistryType::Binary, 0, "\x01\xff"));
  EXPECT_EQ(ReadWholeFile(HivePath()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Brindle]\n\"Path\"=\"/bin/\\\"b\\\"\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Brindle\\Options]\n\"SplitParts\"=dword:0000000a\n\n"
            "[HKEY_CURRENT_USER\\Software\\Brindle A]\n\"X\"=hex:01,ff\n\n");
  struct stat file {}, dir {};
  ASSERT_TRUE(stat(HivePath().c_str(), &file) == 0 && stat(temp_.File("config").c_str(), &dir) == 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);  // private settings
  EXPECT_EQ(dir.st_mode & 0777, 0700u);
}

TEST_F(RegistryHiveFileTest, KeysAndNamesIgnoreCaseAndParentsExist) {
  RegistryHiveFile hive;
  ASSERT_TRUE(hive.Parse("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brindle\\Options]\n"
                         "\"SplitParts\"=dword:00000004\n"));
  EXPECT_TRUE(hive.KeyExists("hkey_current_user\\software"));
  EXPECT_FALSE(hive.KeyExists("HKEY_CURRENT_USER\\Soft"));
  EXPECT_FALSE(hive.KeyExists("HKEY_CURRENT_USER\\Software\\Brindle\\Options\\Sub"));
  EXPECT_EQ(hive.GetValue("HKEY_CURRENT_USER\\SOFTWARE\\brindle\\options", "splitparts")->Dword, 4u);
  for (const char* bad : {"", "A\\\\B", "A\\", "\\A", "-A", "A\nB"})
    EXPECT_FALSE(hive.SetValue(bad, "x", Value(RegistryType::Dword, 1))) << bad;
}

TEST_F(RegistryHiveFileTest, ToleratedInput) {
  RegistryHiveFile hive;
  ASSERT_TRUE(hive.Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
                         "[HKEY_CURRENT_USER\\K]\r\n"
                         "  \"Bin\" = hex:00,01,\\\r\n    FF\r\n"
                         "\"Dword\"=DWORD:A\r\n"
                         "\"Gone\"=dword:1\r\n\"Gone\"=-\r\n"
                         "\"Expand\"=hex(2):25,00,\\\n  00,00\n"
                         "\"Path\"=\"C:\\Temp\"\n"));
  EXPECT_EQ(hive.GetValue("HKEY_CURRENT_USER\\K", "Bin")->Data, std::string("\x00\x01\xff", 3));
  EXPECT_EQ(hive.GetValue("HKEY_CURRENT_USER\\K", "Dword")->Dword, 10u);
  EXPECT_FALSE(hive.GetValue("HKEY_CURRENT_USER\\K", "Gone"));
  EXPECT_FALSE(hive.GetValue("HKEY_CURRENT_USER\\K", "Expand"));
  EXPECT_EQ(hive.GetValue("HKEY_CURRENT_USER\\K", "Path")->Data, "C:\\Temp");
  // A value of a foreign type is written back as it was.
  EXPECT_NE(hive.Serialize().find("\"Expand\"=hex(2):25,00,00,00\n"), std::string::npos);
  EXPECT_TRUE(hive.Parse(""));
  EXPECT_TRUE(hive.Parse("\n\nWindows Registry Editor Version 5.00"));
}

TEST_F(RegistryHiveFileTest, MalformedInput) {
  const std::string header = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
  std::vector<std::string> texts = {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n",
                                    "Windows Registry Editor Version 5.00\n\"A\"=dword:1\n"};
  for (const char* line : {"\"A\"=\"unterminated", "\"A\"=\"ends in escape\\\"", "\"A\"=\"x\" trailing",
                           "\"A\"=hex:0g", "\"A\"=hex:001", "\"A\"=hex:00,", "\"A\"=hex:00,\\",
                           "\"A\"=dword:100000000", "\"A\"=dword:", "\"A\"=qword:1", "\"A\"=hex(x):00", "\"A\"",
                           "garbage", "[HKEY_CURRENT_USER\\Unclosed", "[-HKEY_CURRENT_USER\\K]"})
    texts.push_back(header + line + "\n");
  for (const std::string& text : texts) {
    RegistryHiveFile hive;
    EXPECT_FALSE(hive.Parse(text)) << text;
    EXPECT_FALSE(hive.KeyExists("HKEY_CURRENT_USER")) << text;
  }
}

TEST_F(RegistryHiveFileTest, CorruptFileIsSetAsideAndAFreshHiveStarts) {
  mkdir(temp_.File("config").c_str(), 0700);
  WriteWholeFile(HivePath() + ".bad", "older bad file");
  WriteWholeFile(HivePath(), "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"A\"=\"cut");
  RegistryHiveFile hive;
  EXPECT_FALSE(hive.Load(HivePath()));
  EXPECT_FALSE(test::FileExists(HivePath()));
  EXPECT_EQ(ReadWholeFile(HivePath() + ".bad"),
            "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"A\"=\"cut");
  EXPECT_FALSE(hive.KeyExists("HKEY_CURRENT_USER\\K"));
  ASSERT_TRUE(hive.SetValue(kOptions, "A", Value(RegistryType::Dword, 1)));
  RegistryHiveFile reloaded;
  EXPECT_TRUE(reloaded.Load(HivePath()));
  EXPECT_TRUE(reloaded.GetValue(kOptions, "A"));
}

TEST_F(RegistryHiveFileTest, FailedWriteKeepsOldFileAndMemoryAndIsRetried) {
  RegistryHiveFile hive;
  ASSERT_TRUE(hive.Load(HivePath()));
  ASSERT_TRUE(hive.SetValue(kOptions, "A", Value(RegistryType::Dword, 1)));
  const std::string before = ReadWholeFile(HivePath());
  int opens = 0, error = EIO;
  SetFileFaultHook([&](std::string_view step, const std::string&) {
    opens += step == "open";
    return step == "write" ? error : 0;
  });
  EXPECT_FALSE(hive.SetValue(kOptions, "B", Value(RegistryType::Dword, 2)));
  EXPECT_EQ(hive.GetValue(kOptions, "B")->Dword, 2u);
  EXPECT_EQ(ReadWholeFile(HivePath()), before);
  // The same value again is written, since the file still lacks it...
  error = 0;
  EXPECT_TRUE(hive.SetValue(kOptions, "B", Value(RegistryType::Dword, 2)));
  EXPECT_EQ(opens, 2);
  // ...but once stored, an unchanged value costs no rewrite.
  EXPECT_TRUE(hive.SetValue(kOptions, "B", Value(RegistryType::Dword, 2)));
  EXPECT_EQ(opens, 2);
  RegistryHiveFile reloaded;
  ASSERT_TRUE(reloaded.Load(HivePath()));
  EXPECT_EQ(reloaded.GetValue(kOptions, "B")->Dword, 2u);
}

}  // namespace
}  // namespace brindle
