// Archives built byte by byte in the test, for the cases no archiver makes:
// overlapping entries, entries that decode to more than they declare,
// hostile names, damaged and unusual directories.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "archive/crc32.h"
#include "archive/unzip.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::FileExists;
using test::WriteWholeFile;

uint32_t CrcOf(const std::string& data) {
  Crc32 crc;
  crc.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return crc.Value();
}

// Appends little-endian fields, each a value and its width in bytes.
void Put(std::string* out, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (const auto& [value, width] : fields) {
    for (int i = 0; i < width; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
  }
}

struct TestEntry {
  std::string name;
  std::string data;   // as stored in the archive
  std::string plain;  // what it decodes to (for the CRC and the size)
  uint16_t method = 0;
  uint16_t flags = 0;
  int64_t stated_size = -1;        // overrides the uncompressed size everywhere
  int64_t stated_compressed = -1;  // overrides the compressed size everywhere
  int header_of = -1;              // the directory points at that entry's local header
  uint16_t made_by = 20;           // high byte 3: made on Unix, the mode in external's high word
  uint32_t external = 0x20;
};

TestEntry Stored(const std::string& name, const std::string& data) { return {name, data, data}; }

std::string BuildArchive(const std::vector<TestEntry>& entries, const std::string& comment = "") {
  constexpr uint32_t kTime = 0x24E16000;  // 2018-07-01 12:00
  std::string out;
  std::vector<uint32_t> offsets;
  const auto size = [](const TestEntry& e) {
    return static_cast<uint32_t>(e.stated_size >= 0 ? e.stated_size : static_cast<int64_t>(e.plain.size()));
  };
  const auto compressed = [](const TestEntry& e) {
    return static_cast<uint32_t>(e.stated_compressed >= 0 ? e.stated_compressed : static_cast<int64_t>(e.data.size()));
  };
  for (const TestEntry& e : entries) {
    const bool descriptor = e.flags & 8;
    offsets.push_back(out.size());
    Put(&out, {{0x04034b50, 4},
               {20, 2},
               {e.flags, 2},
               {e.method, 2},
               {kTime, 4},
               {descriptor ? 0 : CrcOf(e.plain), 4},
               {descriptor ? 0 : compressed(e), 4},
               {descriptor ? 0 : size(e), 4},
               {static_cast<uint32_t>(e.name.size()), 2},
               {0, 2}});
    out += e.name + e.data;
    if (descriptor) {
      Put(&out, {{0x08074b50, 4},
                 {CrcOf(e.plain), 4},
                 {static_cast<uint32_t>(e.data.size()), 4},
                 {static_cast<uint32_t>(e.plain.size()), 4}});
    }
  }
  const uint32_t directory = out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    Put(&out, {{0x02014b50, 4},
               {e.made_by, 2},
               {20, 2},
               {e.flags, 2},
               {e.method, 2},
               {kTime, 4},
               {CrcOf(e.plain), 4},
               {compressed(e), 4},
               {size(e), 4},
               {static_cast<uint32_t>(e.name.size()), 2},
               {0, 4},
               {0, 4},
               {e.external, 4},
               {offsets[e.header_of >= 0 ? e.header_of : i], 4}});
    out += e.name;
  }
  const uint32_t count = entries.size();
  Put(&out, {{0x06054b50, 4},
             {0, 4},
             {count, 2},
             {count, 2},
             {static_cast<uint32_t>(out.size() - directory), 4},
             {directory, 4},
             {static_cast<uint32_t>(comment.size()), 2}});
  return out + comment;
}

std::string DeflateStoredBlock(const std::string& data) {
  std::string out = "\x01";
  Put(&out, {{static_cast<uint32_t>(data.size()), 2}, {~static_cast<uint32_t>(data.size()) & 0xFFFF, 2}});
  return out + data;
}

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
