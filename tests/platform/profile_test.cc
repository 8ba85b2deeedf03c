#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "core/atomic_file.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

const char kSample[] =
    "; record\n"
    "orphan=before any section\n"
    "[Download]\n"
    "URL=http://h/f.zip\n"
    "  Spaced Key  =   padded value  \n"
    "Quoted=\"  kept  \"\n"
    "Empty=\n"
    "not a key line\n"
    "url=second of the same name\n"
    "\n"
    "; leads into Other\n"
    "[ other ]\n"
    "Name=x=y\n"
    "[Download]\n"
    "Late=in a repeated section\n";

class ProfileTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFileFaultHook({}); }
  test::TempDir temp_;
};

TEST_F(ProfileTest, Reads) {
  const std::string file = temp_.File("A.dat");
  WriteWholeFile(file, kSample);
  const struct {
    const char* Section;
    const char* Key;
    const char* Expected;
  } cases[] = {
      {"Download", "URL", "http://h/f.zip"},   {"DOWNLOAD", "url", "http://h/f.zip"},
      {"Download", "Spaced Key", "padded value"}, {"Download", "Quoted", "  kept  "},
      {"Download", "Empty", ""},               {"Other", "Name", "x=y"},
      {"Download", "orphan", "default"},       {"Download", "Late", "default"},
      {"Missing", "URL", "default"},           {"Download", "not a key line", "default"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadProfileString(file, c.Section, c.Key, "default"), c.Expected) << c.Section << "/" << c.Key;
  EXPECT_EQ(ReadProfileString(temp_.File("none.dat"), "Download", "URL", "d"), "d");
}

TEST_F(ProfileTest, WritesInPlaceAndAppendsKeepingEverythingElse) {
  const std::string file = temp_.File("A.dat");
  WriteWholeFile(file, kSample);
  ASSERT_TRUE(WriteProfileString(file, "download", "url", "http://h/g.zip"));
  ASSERT_TRUE(WriteProfileString(file, "Download", "State", "Paused"));
  ASSERT_TRUE(WriteProfileString(file, "Other", "Added", "1"));
  ASSERT_TRUE(WriteProfileString(file, "New", "Key", "v"));
  std::string expected = kSample;
  expected.replace(expected.find("URL=http://h/f.zip"), 18, "URL=http://h/g.zip");
  expected.insert(expected.find("\n\n; leads") + 1, "State=Paused\n");
  expected.insert(expected.find("[Download]\nLate"), "Added=1\n");
  expected += "\n[New]\nKey=v\n";
  EXPECT_EQ(ReadWholeFile(file), expected);
}

TEST_F(ProfileTest, ValuesRoundTripWhateverTheirShape) {
  const std::string file = temp_.File("new.dat");
  const std::string longValue = "http://h/" + std::string(100 * 1024, 'q');
  for (const std::string& value : {longValue, std::string("  outer blanks\t"), std::string("\"quoted\""),
                                   std::string("\"\""), std::string("\""), std::string("a;b=c[d]")}) {
    ASSERT_TRUE(WriteProfileString(file, "S", "K", value));
    EXPECT_EQ(ReadProfileString(file, "S", "K", "default"), value);
  }
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ProfileTest, EntriesThatCouldInjectLinesAreRejected) {
  const std::string file = temp_.File("A.dat");
  WriteWholeFile(file, kSample);
  const struct {
    const char* Section;
    const char* Key;
    const char* Value;
  } cases[] = {
      {"Download", "URL", "x\nState=Done"}, {"Download", "URL", "x\r"},  {"Download", "K\nState", "x"},
      {"Down\nload", "URL", "x"},           {"Down]load", "URL", "x"},   {"Download", "a=b", "x"},
      {"Download", "[Other]", "x"},         {"Download", "; c", "x"},    {"Download", "  ", "x"},
  };
  for (const auto& c : cases) EXPECT_FALSE(WriteProfileString(file, c.Section, c.Key, c.Value)) << c.Key;
  EXPECT_EQ(ReadWholeFile(file), kSample);
}

TEST_F(ProfileTest, LineEndingAndByteOrderMarkAreKept) {
  const std::string file = temp_.File("browser.ini");
  WriteWholeFile(file, "\xEF\xBB\xBF[A]\r\nx=1\r\n");
  ASSERT_TRUE(WriteProfileString(file, "A", "y", "2"));
  ASSERT_TRUE(WriteProfileString(file, "B", "z", "3"));
  EXPECT_EQ(ReadWholeFile(file), "\xEF\xBB\xBF[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
  EXPECT_EQ(ReadProfileString(file, "A", "x", ""), "1");
}

TEST_F(ProfileTest, FailedSaveKeepsOldFile) {
  const std::string file = temp_.File("A.dat");
  WriteWholeFile(file, kSample);
  SetFileFaultHook([](std::string_view step, const std::string&) { return step == "rename" ? EIO : 0; });
  EXPECT_FALSE(WriteProfileString(file, "Download", "URL", "changed"));
  EXPECT_EQ(ReadWholeFile(file), kSample);
  // A path that cannot be read as a file is never replaced.
  EXPECT_FALSE(WriteProfileString(temp_.Path(), "S", "K", "v"));
}

TEST_F(ProfileTest, BatchedChangesInOneSave) {
  TProfileFile profile;
  ASSERT_TRUE(profile.Load(temp_.File("B.dat")));
  ASSERT_TRUE(profile.WriteString("Download", "A", "1"));
  ASSERT_TRUE(profile.WriteString("Download", "B", "2"));
  ASSERT_TRUE(profile.Save());
  EXPECT_EQ(ReadWholeFile(temp_.File("B.dat")), "[Download]\nA=1\nB=2\n");
}

}  // namespace
}  // namespace brindle
