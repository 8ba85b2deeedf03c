#include "archive/unzip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using test::WriteWholeFile;

const std::string kData = std::string(BRINDLE_TEST_DATA) + "/zip/";

std::string Archive(const std::string& name) { return kData + name; }

// An entry's expected bytes: a file under inputs/, or content the data README describes.
std::string Expected(const std::string& source) {
  if (source == "stdin-4k") return ReadWholeFile(kData + "inputs/text-60k.txt").substr(0, 4096);
  if (source == "hi") return "hi\n";
  if (source == "big-2mib") {
    const std::string text = ReadWholeFile(kData + "inputs/text-300k.txt");
    std::string big;
    while (big.size() < 2097152) big += text;
    return big.substr(0, 2097152);
  }
  return ReadWholeFile(kData + "inputs/" + source);
}

struct ExtractCase {
  std::string archive;
  int extracted;
  std::vector<std::pair<std::string, std::string>> entries;  // entry name, expected source
};

std::vector<ExtractCase> ExtractCases() {
  std::vector<ExtractCase> cases;
  const std::pair<std::string, std::string> legacy[] = {{"text", "text-60k.txt"},  {"random", "random-20k.bin"},
                                                        {"onebyte", "one-byte.txt"}, {"empty", "empty.txt"},
                                                        {"runs", "runs-100k.bin"}};
  for (std::string method : {"implode-4k-littree-", "implode-4k-nolittree-", "implode-8k-littree-",
                             "implode-8k-nolittree-", "shrink-"})
    for (const auto& [suffix, input] : legacy) cases.push_back({method + suffix + ".zip", 1, {{input, input}}});
  cases.push_back({"shrink-text300k.zip", 1, {{"text-300k.txt", "text-300k.txt"}}});
  cases.push_back({"zip2-implode.zip", 1, {{"first.txt", "zip2-first.txt"}}});
  cases.push_back({"zip2-shrink.zip", 1, {{"FIRST.TXT", "zip2-first.txt"}}});
  ExtractCase mixed{"legacy-mixed-methods.zip", 6, {{"stored/one-byte.txt", "one-byte.txt"}}};
  for (std::string dir :
       {"implode-4k-nolittree", "implode-4k-littree", "implode-8k-nolittree", "implode-8k-littree", "shrink"})
    mixed.entries.push_back({dir + "/runs-100k.bin", "runs-100k.bin"});
  cases.push_back(mixed);
  ExtractCase nested{"infozip-nested-dirs.zip", 12, {{"project/empty-dir", ""}}};  // "": a directory
  for (std::string file :
       {"README.txt", "data/random-2k.bin", "docs/guide/intro.txt", "docs/guide/usage.txt", "src/lib/util.txt"})
    nested.entries.push_back({"project/" + file, "infozip/project/" + file});
  cases.push_back(nested);
  const auto one = [&](std::string archive, int n, std::string dir, std::vector<std::string> files) {
    ExtractCase c{archive, n, {}};
    for (const std::string& f : files) c.entries.push_back({f, "infozip/" + dir + f});
    cases.push_back(c);
  };
  one("infozip-stored-and-deflated.zip", 2, "mixed/", {"stored.txt", "deflated.txt"});
  one("infozip-data-descriptor.zip", 2, "descriptor/", {"notes.txt", "hello.txt"});
  one("infozip-comment.zip", 1, "comment/", {"file.txt"});
  one("infozip-installer.zip", 5, "",
      {"installer/README.TXT", "installer/disk1/SETUP.INI", "installer/disk1/SETUP.EXE"});
  one("infozip-encrypted.zip", 1, "encrypted/", {"public.txt"});  // the encrypted neighbour fails
  cases.push_back({"infozip-stdin-descriptor.zip", 1, {{"-", "stdin-4k"}}});
  cases.push_back({"infozip-stdin-zip64-descriptor.zip", 1, {{"-", "hi"}}});
  cases.push_back({"infozip-deflate-2mib.zip", 1, {{"big-2mib.txt", "big-2mib"}}});
  return cases;
}

class UnzipTest : public ::testing::Test {
 protected:
  test::TempDir temp_;
};

TEST_F(UnzipTest, EveryTestArchiveExtractsToItsInputs) {
  for (const ExtractCase& c : ExtractCases()) {
    SCOPED_TRACE(c.archive);
    const std::string target = temp_.File(c.archive + ".out");
    EXPECT_EQ(ExtractAll(Archive(c.archive), target, "*.*"), c.extracted);
    for (const auto& [entry, source] : c.entries) {
      SCOPED_TRACE(entry);
      const std::filesystem::path path = target + "/" + entry;
      if (source.empty()) EXPECT_TRUE(std::filesystem::is_directory(path));
      else EXPECT_TRUE(std::filesystem::is_regular_file(path) && ReadWholeFile(path) == Expected(source));
    }
  }
}

TEST_F(UnzipTest, EntriesThatCannotBeExtractedAreReportedAndTheRestGoesOn) {
  struct FailCase {
    std::string archive;
    int extracted;
    std::vector<int> failures;      // codes reported for failed entries, in order
    std::vector<std::string> left;  // what the target directory holds afterwards
  };
  const std::vector<FailCase> cases = {
      {"reduce1-text.zip", 0, {kZipUnsupportedMethod}, {}},
      {"reduce4-text.zip", 0, {kZipUnsupportedMethod}, {}},
      {"zip2-reduce.zip", 0, {kZipUnsupportedMethod}, {}},
      {"infozip-encrypted.zip", 1, {kZipEncrypted}, {"public.txt"}},
      {"hostile-bad-crc.zip", 0, {kZipCrcError}, {}},
      {"hostile-dotdot.zip", 1, {kZipWriteError}, {"good.txt"}},
      {"hostile-absolute.zip", 1, {kZipWriteError}, {"good.txt"}},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.archive);
    const std::string target = temp_.File(c.archive + ".out");
    std::vector<int> failures;
    const int count = ExtractAll(Archive(c.archive), target, "*.*", [&](int code, const ZipReport& report) {
      if (report.Status == kZipReportEntryFailed) failures.push_back(code);
    });
    EXPECT_EQ(count, c.extracted);
    EXPECT_EQ(failures, c.failures);
    // No partial output and no temporary file is left behind.
    EXPECT_EQ(test::ListFiles(target, true), c.left);
  }
  // The traversal entries did not land beside the target either.
  EXPECT_FALSE(FileExists(temp_.File("evil.txt")));
  EXPECT_FALSE(FileExists("/abs/evil.txt"));
}

TEST_F(UnzipTest, SeriousErrorsStopTheWholeExtraction) {
  EXPECT_EQ(ExtractAll(Archive("hostile-truncated-cd.zip"), temp_.Path(), "*.*"), kZipSeriousError);
  EXPECT_EQ(ExtractAll(Archive("hostile-bad-local-sig.zip"), temp_.Path(), "*.*"), kZipNotAnArchive);
  EXPECT_EQ(ExtractAll(Archive("missing.zip"), temp_.Path(), "*.*"), kZipNotAnArchive);
  EXPECT_EQ(ExtractAll("", temp_.Path(), "*.*"), kZipMissingParameter);
  EXPECT_EQ(ExtractAll(Archive("shrink-text.zip"), "", "*.*"), kZipMissingParameter);
  EXPECT_EQ(ExtractAll(Archive("infozip-installer.zip"), temp_.Path(), "*.exe"), 1);  // the mask selects
  EXPECT_EQ(test::ListFiles(temp_.Path(), true),
            (std::vector<std::string>{"installer", "installer/disk1", "installer/disk1/SETUP.EXE"}));
}

TEST_F(UnzipTest, ExtractEntryResultCodes) {
  ZipEntry entry;
  ASSERT_EQ(FirstEntry(Archive("hostile-bad-local-sig.zip"), &entry), kZipOk);
  EXPECT_EQ(ExtractEntry(Archive("hostile-bad-local-sig.zip"), temp_.File("sig.txt"), entry.LocalHeaderOffset),
            kZipArchiveError);
  EXPECT_EQ(ExtractEntry(Archive("missing.zip"), temp_.File("x"), 0), kZipReadError);
  EXPECT_EQ(ExtractEntry(Archive("zip2-reduce.zip"), temp_.File("x"), 0), kZipUnsupportedMethod);
  // An offset the directory does not list is no entry's place.
  EXPECT_EQ(ExtractEntry(Archive("legacy-mixed-methods.zip"), temp_.File("x"), 1), kZipArchiveError);
  // The output's directory is a file: nothing can be created there.
  WriteWholeFile(temp_.File("plain"), "x");
  EXPECT_EQ(ExtractEntry(Archive("shrink-text.zip"), temp_.File("plain/out.txt"), 0), kZipWriteError);
  EXPECT_EQ(test::ListFiles(temp_.Path(), true), std::vector<std::string>{"plain"});
  // A directory entry makes its directories and nothing else.
  EXPECT_EQ(ExtractEntry(Archive("shrink-text.zip"), temp_.File("a/b/"), 0), kZipOk);
  EXPECT_EQ(test::ListFiles(temp_.File("a"), true), std::vector<std::string>{"b"});
}

TEST_F(UnzipTest, DirectoryWalk) {
  ZipEntry entry;
  EXPECT_EQ(FirstEntry(Archive("hostile-truncated-cd.zip"), &entry), kZipDirectoryError);
  EXPECT_EQ(FirstEntry(Archive("missing.zip"), &entry), kZipDirectoryError);
  EXPECT_EQ(FirstEntry(Archive("hostile-bad-crc.zip"), nullptr), kZipMissingParameter);

  std::vector<std::string> names;
  for (int rc = FirstEntry(Archive("legacy-mixed-methods.zip"), &entry); rc == kZipOk; rc = NextEntry(&entry)) {
    names.push_back(entry.EntryName + ":" + std::to_string(entry.Method) + ":" +
                    std::to_string(entry.UncompressedSize) + ":" + std::to_string(entry.Attributes));
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "implode-4k-nolittree/runs-100k.bin:6:102400:32", "implode-4k-littree/runs-100k.bin:6:102400:32",
                       "implode-8k-nolittree/runs-100k.bin:6:102400:32", "implode-8k-littree/runs-100k.bin:6:102400:32",
                       "shrink/runs-100k.bin:1:102400:32", "stored/one-byte.txt:0:1:32"}));
  EXPECT_FALSE(entry.Walk);
  EXPECT_EQ(NextEntry(&entry), kZipNoMoreEntries);

  ASSERT_EQ(FirstEntry(Archive("infozip-nested-dirs.zip"), &entry), kZipOk);
  EXPECT_EQ(entry.Attributes, 0);  // made on Unix: no DOS attributes
  CloseEntryWalk(&entry);
  EXPECT_EQ(NextEntry(&entry), kZipNoMoreEntries);
  CloseEntryWalk(&entry);
}

TEST_F(UnzipTest, OutputFilesCarryTheStoredDateAndTime) {
  const auto local = [](int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return mktime(&t);
  };
  const std::vector<std::tuple<std::string, std::string, time_t>> cases = {
      {"shrink-text.zip", "text-60k.txt", local(1996, 7, 1, 12, 0, 0)},
      {"infozip-comment.zip", "file.txt", local(2020, 2, 2, 12, 34, 56)},
  };
  for (const auto& [archive, entry, expected] : cases) {
    SCOPED_TRACE(archive);
    ASSERT_EQ(ExtractAll(Archive(archive), temp_.Path(), "*.*"), 1);
    struct stat st;
    ASSERT_EQ(stat(temp_.File(entry).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, expected);
  }
}

TEST_F(UnzipTest, IsArchiveFindInstallerAndSizes) {
  const std::string zip_bytes = ReadWholeFile(Archive("zip2-shrink.zip"));
  for (const char* dir : {"dir.exe", "folder.zip"}) std::filesystem::create_directories(temp_.File(dir));
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"a.zip", zip_bytes, true},
      {"a.EXE", zip_bytes, true},  // the ".exe" test is case-sensitive
      {"a.exe", zip_bytes, false},
      {"setup.exe.zip", zip_bytes, false},
      {"dir.exe/a.zip", zip_bytes, false},
      {"nodot", zip_bytes, false},
      {"a.txt", "PK\x05\x06 not a local header", false},
      {"short.zip", "PK", false},
  };
  for (const auto& [name, content, expected] : cases) {
    SCOPED_TRACE(name);
    WriteWholeFile(temp_.File(name), content);
    EXPECT_EQ(IsArchive(temp_.File(name)), expected);
  }
  EXPECT_FALSE(IsArchive(temp_.File("folder.zip")));
  EXPECT_FALSE(IsArchive(temp_.File("missing.zip")));

  WriteWholeFile(temp_.File("setup.exe"), ReadWholeFile(Archive("infozip-installer.zip")));
  const std::vector<std::pair<std::string, std::string>> installers = {
      {Archive("infozip-installer.zip"), "installer/disk1/SETUP.EXE"},
      {Archive("infozip-nested-dirs.zip"), ""},
      {temp_.File("setup.exe"), "NOTAZIPFILE"},
      {Archive("missing.zip"), "NOTAZIPFILE"},
      {"", ""},
  };
  for (const auto& [path, expected] : installers) EXPECT_EQ(FindInstaller(path), expected) << path;

  int64_t uncompressed = 0;
  EXPECT_EQ(ArchiveSizes(Archive("implode-4k-nolittree-text.zip"), &uncompressed), 17620);
  EXPECT_EQ(uncompressed, 59943);
  EXPECT_EQ(ArchiveSizes(kData + "inputs/text-60k.txt", &uncompressed), 59943);
  EXPECT_EQ(uncompressed, 59943);
}

TEST_F(UnzipTest, ReportsAndRoutines) {
  std::vector<std::pair<int, int>> reports;  // code, record status
  std::vector<std::string> names;
  const auto record = [&](int code, const ZipReport& report) {
    reports.push_back({code, report.Status});
    names.push_back(report.Name);
  };
  ASSERT_EQ(ExtractAll(Archive("infozip-stored-and-deflated.zip"), temp_.Path(), "*.*", record), 2);
  EXPECT_EQ(reports,
            (std::vector<std::pair<int, int>>{
                {-1004, -1004}, {-1000, -1000}, {-1002, -1002}, {-1000, -1000}, {-1002, -1002}, {-1005, -1005}}));
  EXPECT_EQ(names[1], "stored.txt");
  EXPECT_EQ(names[5], Archive("infozip-stored-and-deflated.zip"));
  EXPECT_FALSE(SetReportRoutine({}) || SetQuestionRoutine({}));  // they belonged to that run only

  // Overwrite only when the question routine agrees; a routine may hand the run to another.
  WriteWholeFile(temp_.File("stored.txt"), "keep");
  WriteWholeFile(temp_.File("deflated.txt"), "replace");
  reports.clear();
  std::vector<std::string> asked;
  const int count = ExtractAll(
      Archive("infozip-stored-and-deflated.zip"), temp_.Path(), "*.*",
      [&](int code, const ZipReport& report) {
        if (code == kZipReportStarts) SetReportRoutine(record);
        reports.push_back({code, report.Status});
      },
      [&](const std::string& path) {
        asked.push_back(path);
        return path.ends_with("deflated.txt");
      });
  EXPECT_EQ(count, 1);
  EXPECT_EQ(asked, (std::vector<std::string>{temp_.File("stored.txt"), temp_.File("deflated.txt")}));
  EXPECT_EQ(ReadWholeFile(temp_.File("stored.txt")), "keep");
  EXPECT_EQ(ReadWholeFile(temp_.File("deflated.txt")), Expected("infozip/mixed/deflated.txt"));
  EXPECT_EQ(reports,
            (std::vector<std::pair<int, int>>{
                {-1004, -1004}, {-1000, -1000}, {-1001, -1001}, {-1000, -1000}, {-1002, -1002}, {-1005, -1005}}));
}

}  // namespace
}  // namespace brindle
