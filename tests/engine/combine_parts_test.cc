#include "engine/combine_parts.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "core/checksum.h"
#include "core/event_loop.h"
#include "core/file_names.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "platform/file_size_signal.h"
#include "support/fake_launcher.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;
using Words = std::vector<std::string>;
using Files = std::map<std::string, std::string>;  // path -> Digest(content)

struct PartRange {
  int64_t Start;
  size_t Size;
};

// Size and hash: a failed comparison prints readably.
std::string Digest(const std::string& content) {
  return std::to_string(content.size()) + "/" + std::to_string(std::hash<std::string>{}(content));
}

Files Snapshot(const std::string& dir) {
  Files files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().string()] = Digest(ReadWholeFile(entry.path().string()));
  return files;
}

// Writes each part as its slice of one pseudo-random content, which it returns.
std::string WriteParts(const std::string& base, const std::vector<PartRange>& parts) {
  size_t end = 0;
  for (const PartRange& part : parts) end = std::max(end, static_cast<size_t>(part.Start) + part.Size);
  std::string content(end, '\0');
  uint32_t x = 2463534242u;
  for (char& c : content) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
  for (const PartRange& part : parts)
    WriteWholeFile(base + "." + std::to_string(part.Start), content.substr(part.Start, part.Size));
  return content;
}

// A clock that moves 100 ms at every read: every copied block may report.
class SteppingClock : public Clock {
 public:
  int64_t MonotonicMs() const override { return now_ += 100; }
  int64_t WallMs() const override { return 0; }

 private:
  mutable std::atomic<int64_t> now_{0};
};

struct JoinResult {
  bool Called = false;
  bool Success = false;
  std::string Error;
  std::string Final;  // the name the finished file got
  std::string Mismatch;
  std::vector<int64_t> Progress;  // written, as reported
  int64_t Written = 0;
  int64_t Total = 0;
};

JoinResult RunJoin(EventLoop& loop, const std::string& base, int64_t size, const std::string& target,
                   bool replace = false, const std::function<void(TCombineParts&)>& prepare = {}) {
  JoinResult result;
  TCombineParts combine(base, size, target, &loop);
  combine.Replace = replace;
  if (prepare) prepare(combine);
  combine.OnProgress = [&](int64_t written, int64_t) { result.Progress.push_back(written); };
  combine.OnFilesCombined = [&](bool success, const std::string& error) {
    result.Called = true, result.Success = success, result.Error = error;
  };
  combine.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!result.Called && std::chrono::steady_clock::now() < deadline) loop.RunOnce(100);
  result.Written = combine.Written();
  result.Total = combine.RemoteFSize();
  result.Final = combine.LclFileName();
  result.Mismatch = combine.Mismatch();
  return result;
}

class CombinePartsTest : public ::testing::Test {
 protected:
  CombinePartsTest() {
    prompt_.yes = false;
    SetRegistry(&registry_), SetPrompt(&prompt_), SetLauncher(&launcher_);
  }
  ~CombinePartsTest() override { SetLauncher(nullptr), SetPrompt(nullptr), SetRegistry(nullptr); }
  JoinResult Join(int64_t size, const std::string& target, bool replace = false,
                  const std::function<void(TCombineParts&)>& prepare = {}) {
    return RunJoin(loop_, base_, size, target, replace, prepare);
  }
  void RemoveFiles() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
      if (entry.is_regular_file()) std::filesystem::remove(entry.path());
  }

  TempDir dir_;
  std::string base_ = dir_.File("ABCD1234");
  SteppingClock clock_;
  EventLoop loop_{clock_};
  MemoryRegistry registry_;
  test::ScriptedPrompt prompt_;
  test::FakeLauncher launcher_;
};

// The finished file takes its name when the join ends, never replacing
// anything there: an older file (or a directory) of that name makes it
// "name(1).ext", unless the download was asked to replace it. A file there
// with exactly the parts' bytes is a crashed join's result and is kept. The
// part files are gone; a single part is renamed, not copied. Progress rises
// to the size of the chain.
TEST_F(CombinePartsTest, JoinsTheChainIntoTheFinishedFileClaimingItsName) {
  enum class Older { File, SameBytes, Directory };
  struct Case {
    const char* Name;
    std::vector<PartRange> Parts;
    int64_t Size;
    std::string Target;
    Older There = Older::File;
    bool Replace = false;
  };
  const std::string longest = std::string(251, 'a') + ".zip";
  const std::vector<Case> cases = {
      {"three parts", {{0, 100}, {100, 200}, {300, 300}}, 600, "file.zip"},
      {"many blocks", {{0, 300000}, {300000, 355360}}, 655360, "file.zip"},
      {"unknown size: until no next file", {{0, 100}, {100, 200}}, -1, "file.zip"},
      {"longest file name", {{0, 100}, {100, 200}}, 300, longest},
      {"one part", {{0, 5000}}, 5000, "file.zip"},
      {"one part, unknown size", {{0, 5000}}, -1, "file.zip"},
      {"replacing", {{0, 100}, {100, 200}}, 300, "file.zip", Older::File, true},
      {"one part, replacing", {{0, 5000}}, 5000, "file.zip", Older::File, true},
      {"a directory of that name", {{0, 100}, {100, 200}}, 300, "taken", Older::Directory},
      {"one part, a directory of that name", {{0, 100}}, 100, "taken", Older::Directory},
      {"crashed after placing", {{0, 100}, {100, 200}}, 300, "file.zip", Older::SameBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RemoveFiles();
    std::filesystem::remove_all(dir_.File("taken"));
    const std::string target = dir_.File(c.Target);
    const std::string content = WriteParts(base_, c.Parts);
    if (c.There == Older::Directory) std::filesystem::create_directory(target);
    else WriteWholeFile(target, c.There == Older::SameBytes ? content : "an older file");
    struct stat part{}, finished{};
    ASSERT_EQ(stat((base_ + ".0").c_str(), &part), 0);
    const JoinResult result = Join(c.Size, target, c.Replace);
    EXPECT_TRUE(result.Success) << result.Error;
    const bool numbered = c.There != Older::SameBytes && !c.Replace;
    EXPECT_EQ(result.Final, numbered ? NumberedFileName(target, 1) : target);
    Files expected{{result.Final, Digest(content)}};
    if (numbered && c.There == Older::File) expected[target] = Digest("an older file");
    EXPECT_EQ(Snapshot(dir_.Path()), expected);
    ASSERT_EQ(stat(result.Final.c_str(), &finished), 0);
    EXPECT_EQ(finished.st_ino == part.st_ino, c.Parts.size() == 1);
    if (c.There == Older::SameBytes) continue;
    const int64_t size = static_cast<int64_t>(content.size());
    EXPECT_TRUE(result.Written == size && result.Total == size) << result.Written << " " << result.Total;
    EXPECT_EQ(std::adjacent_find(result.Progress.begin(), result.Progress.end(), std::greater_equal<>()),
              result.Progress.end());
    ASSERT_FALSE(result.Progress.empty());
    EXPECT_LE(result.Progress.back(), result.Written);
  }
  EXPECT_TRUE(prompt_.messages.empty());

  EXPECT_EQ(TCombineParts::JoinTempFileName("/d/file.zip", "/p/ABCD1234"), "/d/file.zip.ABCD1234.brindle-join.tmp");
  const std::string longestPath = "/d/" + std::string(255, 'a');
  EXPECT_EQ(TCombineParts::JoinTempFileName(longestPath, "/p/ABCD1234").size(), 3u + 255u);
  EXPECT_NE(TCombineParts::JoinTempFileName(longestPath, "/p/ABCD1234"),
            TCombineParts::JoinTempFileName(longestPath + "b", "/p/ABCD1234"));
}

// With a checksum or a server's digest the bytes are hashed on the way (a
// single part is still moved, not copied). A file without the digests asked
// for is kept as the name with ".bad" added, claimed like the finished name
// and never replacing anything; the same goes for a crashed join's file
// found under the name.
TEST_F(CombinePartsTest, FileWithoutTheDigestsAskedForIsKeptAsBad) {
  enum class Older { None, File, SameBytes };
  enum class Side { None, User, Server };
  struct Case {
    const char* Name;
    std::vector<PartRange> Parts;
    const char* User;    // the user's algorithm, "" for no checksum
    const char* Server;  // the server's, "" for none
    Side Wrong;          // whose digest the bytes lack
    const char* Final;   // the name the file gets
    Older There = Older::None;
    bool Replace = false;
  };
  const std::vector<Case> cases = {
      {"three parts, right", {{0, 100}, {100, 200}, {300, 300}}, "sha256", "", Side::None, "file.zip"},
      {"many blocks, wrong", {{0, 1500000}, {1500000, 1000000}}, "md5", "", Side::User, "file.zip.bad"},
      {"one part, both right", {{0, 5000}}, "sha1", "sha512", Side::None, "file.zip"},
      {"one part, the server's wrong", {{0, 5000}}, "", "sha256", Side::Server, "file.zip.bad"},
      {"the server's wrong, the user's right", {{0, 100}, {100, 200}}, "sha256", "sha256", Side::Server,
       "file.zip.bad"},
      {"a bad file of that name", {{0, 100}, {100, 200}}, "sha1", "", Side::User, "file.zip(1).bad", Older::File},
      {"replacing", {{0, 100}, {100, 200}}, "sha512", "", Side::User, "file.zip.bad", Older::File, true},
      {"crashed after placing", {{0, 100}, {100, 200}}, "md5", "", Side::User, "file.zip.bad", Older::SameBytes},
  };
  const auto checksum = [](const std::string& algorithm, const std::string& content) {
    return ParseChecksum(algorithm + "=" + HexOf(test::DigestOf(algorithm, content)));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RemoveFiles();
    const std::string target = dir_.File("file.zip");
    const std::string content = WriteParts(base_, c.Parts);
    if (c.There == Older::SameBytes) WriteWholeFile(target, content);
    if (c.There == Older::File) WriteWholeFile(c.Replace ? target : target + ".bad", "an older file");
    struct stat part{}, finished{};
    ASSERT_EQ(stat((base_ + ".0").c_str(), &part), 0);
    const std::string userWants = c.Wrong == Side::User ? "other" : content;
    const std::string serverWants = c.Wrong == Side::Server ? "other" : content;
    const JoinResult result = Join(static_cast<int64_t>(content.size()), target, c.Replace, [&](TCombineParts& join) {
      if (*c.User) join.Checksum = checksum(c.User, userWants);
      if (*c.Server) join.ServerDigest = checksum(c.Server, serverWants);
    });
    EXPECT_TRUE(result.Success) << result.Error;
    EXPECT_EQ(result.Final, dir_.File(c.Final));
    const char* wrong = c.Wrong == Side::User ? c.User : c.Server;
    const std::string from = c.Wrong == Side::Server ? " from the server" : "";
    EXPECT_EQ(result.Mismatch, c.Wrong == Side::None ? ""
                                                     : "expected " + checksum(wrong, "other")->Text() + from +
                                                           ", got " + checksum(wrong, content)->Hex);
    Files expected{{result.Final, Digest(content)}};
    if (c.There == Older::File) expected[c.Replace ? target : target + ".bad"] = Digest("an older file");
    EXPECT_EQ(Snapshot(dir_.Path()), expected);
    ASSERT_EQ(stat(result.Final.c_str(), &finished), 0);
    EXPECT_EQ(finished.st_ino == part.st_ino, c.Parts.size() == 1);
    EXPECT_TRUE(c.There == Older::SameBytes || result.Written == static_cast<int64_t>(content.size()));
  }
  EXPECT_TRUE(prompt_.messages.empty());
}

// Whatever stops a join, the directory is left as it was: every part file
// intact, no finished file, no temporary file. A part file that is not one
// of Brindle's own (a link, a FIFO, a second name of another file) is never
// read.
TEST_F(CombinePartsTest, FailedJoinKeepsEveryPartAndCreatesNothing) {
  struct Case {
    const char* Name;
    std::vector<PartRange> Parts;
    int64_t Size;
    std::string Target;   // in the directory; "" for none
    std::string Message;  // shown to the user, "<dir>" for the directory; "" for none
    std::function<void(const std::string& part)> Spoil = {};  // done to the part at 100
  };
  TempDir elsewhere;
  const std::string outside = elsewhere.File("outside");
  const std::string missing = ": No such file or directory";
  const std::vector<Case> cases = {
      {"middle part missing", {{0, 100}, {300, 300}}, 600, "file.zip", "Couldn't open <dir>/ABCD1234.100" + missing},
      {"first part missing", {{100, 200}, {300, 300}}, 600, "file.zip", "Couldn't open <dir>/ABCD1234.0" + missing},
      {"last part overshoots", {{0, 100}, {100, 200}, {300, 301}}, 600, "file.zip", ""},
      {"middle part overshoots", {{0, 100}, {100, 250}, {300, 300}}, 600, "file.zip",
       "Couldn't open <dir>/ABCD1234.350" + missing},
      {"chain short of the size", {{0, 100}, {100, 200}}, 600, "file.zip", "Couldn't open <dir>/ABCD1234.300" + missing},
      {"empty part in the chain", {{0, 100}, {100, 0}, {300, 300}}, 600, "file.zip", ""},
      {"empty first part of a known size", {{0, 0}}, 600, "file.zip", ""},
      {"no file name", {{0, 100}, {100, 200}}, 300, "", ""},
      {"target directory missing", {{0, 100}, {100, 200}}, 300, "gone/file.zip",
       "Couldn't open <dir>/gone/file.zip" + missing},
      {"part is a link", {{0, 100}, {300, 300}}, 600, "file.zip",
       "Couldn't open <dir>/ABCD1234.100: Too many levels of symbolic links",
       [&](const std::string& part) {
         WriteWholeFile(outside, std::string(200, 'x'));
         std::filesystem::create_symlink(outside, part);
       }},
      {"part is a second name", {{0, 100}, {300, 300}}, 600, "file.zip",
       "Couldn't open <dir>/ABCD1234.100: Too many links",
       [&](const std::string& part) {
         WriteWholeFile(outside, std::string(200, 'x'));
         std::filesystem::create_hard_link(outside, part);
       }},
      {"part is a FIFO", {{0, 100}, {300, 300}}, 600, "file.zip",
       "Couldn't open <dir>/ABCD1234.100: No such device or address",
       [](const std::string& part) { ASSERT_EQ(mkfifo(part.c_str(), 0644), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RemoveFiles();
    prompt_.messages.clear();
    WriteParts(base_, c.Parts);
    if (c.Spoil) c.Spoil(base_ + ".100");
    const Files before = Snapshot(dir_.Path());
    const JoinResult result = Join(c.Size, c.Target.empty() ? "" : dir_.File(c.Target));
    ASSERT_TRUE(result.Called);
    EXPECT_FALSE(result.Success);
    EXPECT_FALSE(result.Error.empty());
    EXPECT_EQ(Snapshot(dir_.Path()), before);
    std::string message = c.Message;
    if (const size_t at = message.find("<dir>"); at != std::string::npos) message.replace(at, 5, dir_.Path());
    EXPECT_EQ(prompt_.messages, message.empty() ? Words{} : Words{message});
    std::filesystem::remove(base_ + ".100");
  }
  EXPECT_EQ(ReadWholeFile(outside), std::string(200, 'x'));
  EXPECT_TRUE(launcher_.started.empty());
}

TEST_F(CombinePartsTest, VirusScannerGetsProgramParametersAndFileAsSeparateArguments) {
  const std::string target = dir_.File("my file.zip");
  WriteString(kOptionsSection, "AntivirusExecutablePath", "/opt/scan tool/scan");
  WriteString(kOptionsSection, "AntivirusExecutableParameters", "--quiet -x 'a b'");
  WriteParts(base_, {{0, 10}});
  ASSERT_TRUE(Join(10, target).Success);
  EXPECT_TRUE(launcher_.started.empty());  // VirusChecking is off by default

  WriteBool(kOptionsSection, "VirusChecking", true);
  WriteParts(base_, {{0, 10}, {10, 20}});
  ASSERT_TRUE(Join(30, target).Success);
  ASSERT_FALSE(Join(30, target).Success);  // no file to scan
  // The file scanned is the one joined, under the name it could take.
  const Words expected = {"/opt/scan tool/scan", "--quiet", "-x", "a b", NumberedFileName(target, 1)};
  EXPECT_EQ(launcher_.started, std::vector<Words>{expected});
}

TEST_F(CombinePartsTest, OwnerDestroyedWhileTheWorkerRunsHearsNothing) {
  const std::string target = dir_.File("file.zip");
  const std::string content = WriteParts(base_, {{0, 4 << 20}, {4 << 20, 4 << 20}});
  const Files before = Snapshot(dir_.Path());
  bool called = false;
  auto combine = std::make_unique<TCombineParts>(base_, 8 << 20, target, &loop_);
  combine->OnFilesCombined = [&](bool, const std::string&) { called = true; };
  combine->Start();
  combine.reset();
  for (int i = 0; i < 10; ++i) loop_.RunOnce(0);
  EXPECT_FALSE(called);
  // Stopped on the way, or (on a slow scheduler) done before the cancel was
  // seen: never anything in between.
  const Files after = Snapshot(dir_.Path());
  EXPECT_TRUE(after == before || after == (Files{{target, Digest(content)}}));
}

// Death tests re-run the test in a fresh process, which finds the parent's
// directory in BRINDLE_TEST_JOIN_DIR.
class CombinePartsChildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (const char* inherited = std::getenv("BRINDLE_TEST_JOIN_DIR")) {
      dir_ = inherited;
      return;
    }
    temp_.emplace();
    dir_ = temp_->Path();
    content_ = WriteParts(dir_ + "/ABCD1234", kParts);
    parts_ = Snapshot(dir_);
    setenv("BRINDLE_TEST_JOIN_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { unsetenv("BRINDLE_TEST_JOIN_DIR"), unsetenv("BRINDLE_CRASH_AT"); }
  // In the child: exits 0 when the join failed for a write over the limit.
  [[noreturn]] void JoinAndExit() {
    EventLoop loop;
    const JoinResult result = RunJoin(loop, dir_ + "/ABCD1234", 400000, dir_ + "/file.zip");
    _exit(!result.Success && result.Error.find("File too large") != std::string::npos ? 0 : 1);
  }
  std::string Finished() const { return dir_ + "/file.zip"; }

  const std::vector<PartRange> kParts = {{0, 100000}, {100000, 200000}, {300000, 100000}};
  std::optional<TempDir> temp_;
  std::string dir_;
  std::string content_;
  Files parts_;
};

TEST_F(CombinePartsChildTest, DiskFullFailsTheJoinAndKeepsTheParts) {
  const auto joinOverLimit = [this] {
    IgnoreFileSizeSignal();
    const rlimit limit = {250000, 250000};  // below the finished file's size
    setrlimit(RLIMIT_FSIZE, &limit);
    JoinAndExit();
  };
  EXPECT_EXIT(joinOverLimit(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Snapshot(dir_), parts_);
}

#ifdef BRINDLE_TEST_HOOKS
class CombinePartsCrashTest : public CombinePartsChildTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CombinePartsCrashTest, CrashAnywhereLosesNothing) {
  setenv("BRINDLE_CRASH_AT", GetParam(), 1);
  EXPECT_EXIT(JoinAndExit(), ::testing::ExitedWithCode(86), "");
  // Every part file as written; file.zip complete or missing.
  Files now = Snapshot(dir_);
  EXPECT_TRUE(!now.count(Finished()) || now[Finished()] == Digest(content_));
  for (const auto& [path, digest] : parts_) EXPECT_EQ(now[path], digest) << path;
  // The next join replaces whatever the crashed one left.
  unsetenv("BRINDLE_CRASH_AT");
  EventLoop loop;
  ASSERT_TRUE(RunJoin(loop, dir_ + "/ABCD1234", 400000, Finished()).Success);
  EXPECT_EQ(Snapshot(dir_), (Files{{Finished(), Digest(content_)}}));
}

INSTANTIATE_TEST_SUITE_P(Points, CombinePartsCrashTest,
                         ::testing::Values("combine-block-copied", "combine-part-copied", "combine-before-rename",
                                           "combine-after-rename"));
#endif

}  // namespace
}  // namespace brindle
