// Archives built byte by byte in the test, for the cases no archiver makes:
// overlapping entries, entries that decode to more than they declare,
// hostile names, damaged and unusual directories.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/unzip.h"
#include "support/crafted_zip.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::BuildArchive;
using test::DeflateStoredBlock;
using test::FileExists;
using test::ReadWholeFile;
using test::Stored;
using test::TestEntry;
using test::WriteWholeFile;

class CraftedArchiveTest : public ::testing::Test {
 protected:
  // Writes the archive and extracts it whole; the failure codes reported go
  // to *failures.
  int ExtractAllOf(const std::string& bytes, std::vector<int>* failures = nullptr) {
    WriteWholeFile(archive_, bytes);
    return ExtractAll(archive_, target_, "*.*", [&](int code, const ZipReport& report) {
      if (failures && report.Status == kZipReportEntryFailed) failures->push_back(code);
    });
  }
  std::vector<std::string> Extracted() const { return test::ListFiles(target_, true); }

  test::TempDir temp_;
  const std::string archive_ = temp_.File("crafted.zip");
  const std::string target_ = temp_.File("out");
};

TEST_F(CraftedArchiveTest, EntriesDecodingBeyondTheirPlaceOrSizeAreRefused) {
  const std::string text(100, 'x');
  TestEntry descriptor_entry{"d.txt", DeflateStoredBlock(text), text, 8, 8};
  struct Case {
    const char* what;
    std::vector<TestEntry> entries;
    int result;  // of ExtractAll
  };
  std::vector<Case> cases;
  {
    TestEntry shared = Stored("b.txt", "b");
    shared.header_of = 0;
    cases.push_back({"two entries, one local header", {Stored("a.txt", "a"), shared}, kZipSeriousError});
  }
  {
    TestEntry reaching = Stored("a.txt", "a");
    reaching.stated_compressed = 40;  // into b.txt's local header
    reaching.stated_size = 40;
    cases.push_back({"data into the next entry", {reaching, Stored("b.txt", "b")}, kZipSeriousError});
  }
  {
    TestEntry stored = Stored("s.txt", text);
    stored.stated_size = 50;
    cases.push_back({"stored, more than stated", {stored}, kZipSeriousError});
    stored.stated_size = 200;
    cases.push_back({"stored, less than stated", {stored}, kZipSeriousError});
  }
  {
    TestEntry deflated{"z.txt", DeflateStoredBlock(text), text, 8};
    deflated.stated_size = 50;
    cases.push_back({"deflate, more than stated", {deflated}, kZipSeriousError});
  }
  cases.push_back({"data descriptor", {descriptor_entry}, 1});
  descriptor_entry.stated_size = 99;  // the directory's size bounds it
  cases.push_back({"data descriptor, more than the directory says", {descriptor_entry}, kZipSeriousError});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(target_);
    EXPECT_EQ(ExtractAllOf(BuildArchive(c.entries)), c.result);
    if (c.result < 0) {
      EXPECT_EQ(Extracted(), std::vector<std::string>{});
    }
  }
}

TEST_F(CraftedArchiveTest, DataDescriptorCrcIsChecked) {
  const std::string text = "descriptor";
  std::string bytes = BuildArchive({{"d.txt", DeflateStoredBlock(text), text, 8, 8}});
  // The descriptor's CRC follows its signature right after the data.
  const size_t crc_at = bytes.find("PK\x07\x08") + 4;
  bytes[crc_at] ^= 1;
  std::vector<int> failures;
  EXPECT_EQ(ExtractAllOf(bytes, &failures), 0);
  EXPECT_EQ(failures, std::vector<int>{kZipCrcError});
}

TEST_F(CraftedArchiveTest, NamesThatLeaveTheTargetAreRefused) {
  std::vector<TestEntry> entries;
  for (const char* name :
       {"/etc/evil", "\\evil", "c:evil", "C:/evil", "../evil", "a/../../evil", "a\\..\\evil", "a/.."}) {
    entries.push_back(Stored(name, "evil"));
  }
  entries.push_back(Stored(std::string("nul\0../../evil", 14), "evil"));
  entries.push_back(Stored("dir/ok..txt", "fine"));
  std::vector<int> failures;
  EXPECT_EQ(ExtractAllOf(BuildArchive(entries), &failures), 1);
  EXPECT_EQ(failures, std::vector<int>(9, kZipWriteError));
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"dir", "dir/ok..txt"}));
  EXPECT_FALSE(FileExists(temp_.File("evil")));
}

// On disk a name's C0 control characters and DEL become "_", so that no
// listing of the folder replays them; the reports keep the stored name.
TEST_F(CraftedArchiveTest, ControlCharactersInNamesAreWrittenAsUnderscores) {
  const std::string c1 = "c1\xC2\x9B" "31m.txt";  // a C1 control is no C0 one: it stays
  std::vector<std::string> reported;
  WriteWholeFile(archive_, BuildArchive({Stored("a\x1B]0;owned\x07" "b.txt", "1"), Stored("line\nforged.txt", "2"),
                                         Stored("del\x7F.txt", "3"), Stored(c1, "4"), Stored("dir\x01/x.txt", "5")}));
  EXPECT_EQ(ExtractAll(archive_, target_, "*.*",
                       [&](int code, const ZipReport& report) {
                         if (code == kZipReportEntryDone) reported.push_back(report.Name);
                       }),
            5);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"a_]0;owned_b.txt", c1, "del_.txt", "dir_", "dir_/x.txt",
                                                   "line_forged.txt"}));
  EXPECT_EQ(ReadWholeFile(target_ + "/dir_/x.txt"), "5");
  EXPECT_EQ(reported.front(), "a\x1B]0;owned\x07" "b.txt");
}

// What the central directory declares is weighed before a byte is written:
// against the target's free space less 5 %, and, above 1 GiB, against 200
// times the archive's size. Only the directory is read, so the archives
// here declare sizes they do not hold.
TEST_F(CraftedArchiveTest, DeclaredSizesAreWeighedBeforeExtracting) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  const auto declaring = [](std::vector<int64_t> sizes, const std::string& data = "x") {
    std::vector<TestEntry> entries;
    for (int64_t size : sizes) {
      entries.push_back(Stored("e" + std::to_string(entries.size()), data));
      entries.back().directory_size = size;
    }
    return BuildArchive(entries);
  };
  // Large enough that 200 times it is above 1 GiB.
  const std::string big = std::string(6'000'000, 'b');
  const int64_t bigArchive = static_cast<int64_t>(declaring({0}, big).size());
  struct Case {
    const char* what;
    std::string archive;
    int64_t free;  // -1: not known
    int result;
  };
  const Case cases[] = {
      {"1 GiB from a tiny archive", declaring({kGiB}), 100 * kGiB, kZipOk},
      {"more than 1 GiB from a tiny archive", declaring({kGiB, 1}), 100 * kGiB, kZipHighRatio},
      {"3 GiB over two entries", declaring({kGiB + kGiB / 2, kGiB + kGiB / 2}), -1, kZipHighRatio},
      {"200 times the archive", declaring({200 * bigArchive}, big), 100 * kGiB, kZipOk},
      {"more than 200 times the archive", declaring({200 * bigArchive + 1}, big), 100 * kGiB, kZipHighRatio},
      {"the free space less 5 %", declaring({1000}), 1052, kZipOk},
      {"more than the free space less 5 %", declaring({1000}), 1051, kZipNotEnoughSpace},
      {"too big for the disk, whatever the ratio", declaring({3 * kGiB}), 2 * kGiB, kZipNotEnoughSpace},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteWholeFile(archive_, c.archive);
    setenv("BRINDLE_FREE_SPACE", std::to_string(c.free).c_str(), 1);
    const ZipSizeCheck check = CheckDeclaredSizes(archive_, target_);
    EXPECT_EQ(check.Result, c.result);
    EXPECT_EQ(check.ArchiveSize, static_cast<int64_t>(c.archive.size()));
    EXPECT_EQ(check.FreeSpace, c.free);
    const std::string text = DeclaredSizeText(check, "DIR");
    EXPECT_EQ(text.empty(), c.result == kZipOk) << text;
    if (c.result == kZipNotEnoughSpace) {
      EXPECT_NE(text.find("DIR has only"), std::string::npos) << text;
    }
  }
  unsetenv("BRINDLE_FREE_SPACE");
  EXPECT_FALSE(FileExists(target_));
}

// A Unix symbolic-link entry is written as a plain file holding its target,
// so a later entry cannot pass through it.
TEST_F(CraftedArchiveTest, SymbolicLinkEntriesBecomePlainFiles) {
  TestEntry link = Stored("up", "..");
  link.made_by = 0x031E;
  link.external = 0xA1FF0000;  // S_IFLNK | 0777
  std::vector<int> failures;
  EXPECT_EQ(ExtractAllOf(BuildArchive({link, Stored("up/evil", "evil")}), &failures), 1);
  EXPECT_EQ(failures, std::vector<int>{kZipWriteError});
  EXPECT_FALSE(std::filesystem::is_symlink(target_ + "/up"));
  EXPECT_EQ(test::ReadWholeFile(target_ + "/up"), "..");
  EXPECT_FALSE(FileExists(temp_.File("evil")));
}

TEST_F(CraftedArchiveTest, DirectoryEdgeCases) {
  ZipEntry entry;
  // An archive without entries, and a damaged end record with nowhere for
  // its entry to be.
  WriteWholeFile(archive_, BuildArchive({}));
  EXPECT_EQ(FirstEntry(archive_, &entry), kZipNoMoreEntries);
  std::string damaged = BuildArchive({});
  damaged[10] = 1;
  WriteWholeFile(archive_, std::string(20, 'x') + damaged);
  EXPECT_EQ(FirstEntry(archive_, &entry), kZipInternalError);

  // The end record behind the longest comment is found; one further back
  // than a comment can reach is not searched for.
  WriteWholeFile(archive_, BuildArchive({Stored("a.txt", "a")}, std::string(65535, 'c')));
  EXPECT_EQ(FirstEntry(archive_, &entry), kZipOk);
  WriteWholeFile(archive_, BuildArchive({Stored("a.txt", "a")}) + std::string(70000, 'c'));
  EXPECT_EQ(FirstEntry(archive_, &entry), kZipDirectoryError);

  // A directory larger than the walk's buffer, and a name longer than 259.
  std::vector<TestEntry> many;
  for (int i = 0; i < 2000; ++i) many.push_back(Stored("directory/entry-number-" + std::to_string(i), ""));
  many.push_back(Stored(std::string(300, 'n'), ""));
  WriteWholeFile(archive_, BuildArchive(many));
  int count = 0;
  std::string last;
  for (int rc = FirstEntry(archive_, &entry); rc == kZipOk; rc = NextEntry(&entry)) {
    ++count;
    last = entry.EntryName;
  }
  EXPECT_EQ(count, 2001);
  EXPECT_EQ(last, std::string(259, 'n'));
}

}  // namespace
}  // namespace brindle
