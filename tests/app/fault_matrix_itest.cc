// Misbehaving servers and a full disk, end to end through brindle-cli: every
// case ends with the server's exact bytes and "Done", or with exit status 1,
// the reason, and no finished file. Never "Done" with other bytes.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli_process.h"
#include "core/checksum.h"
#include "core/settings.h"
#include "platform/registry_hive_file.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/loop_thread.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::CliOutcome;
using test::FaultFtpServer;
using test::FaultHttpServer;
using test::FileReplyOptions;
using test::HttpReply;
using test::HttpRequest;

using test::MakeContent;

// Two versions of one file: same size, other bytes.
const std::string kOld = MakeContent(1024 * 1024);
const std::string kNew = MakeContent(1024 * 1024, 12345);

// One profile, one download folder and one brindle-cli per case.
class Profile : public test::CliProfile {
 public:
  explicit Profile(const std::map<std::string, int>& settings = {}) {
    RegistryHiveFile hive;
    hive.Load(home_.Path() + "/registry.reg");
    SetRegistry(&hive);
    for (const auto& [name, value] : settings) WriteInteger(kOptionsSection, name, value);
    SetRegistry(nullptr);
  }

  // Four parts, two retries at once, saved as f.bin.
  void Start(const std::string& url, test::CliStart start = {}) {
    start.Args.insert(start.Args.begin(),
                      {"-s", "4", "--retries", "2", "--retry-delay", "0", "-d", out_.Path(), "-o", "f.bin"});
    start.Args.push_back(url);
    cli_.Start(start);
  }
  CliOutcome Run(const std::string& url, test::CliStart start = {}, int limitMs = 30000) {
    Start(url, std::move(start));
    return Wait(limitMs);
  }

  std::string Target() const { return out_.File("f.bin"); }
  // Names in the download folder (the finished file, or a join's leftovers).
  std::vector<std::string> OutFiles() const { return test::ListFiles(out_.Path()); }
  size_t RecordFiles() const {
    const std::vector<std::string> names = test::ListFiles(home_.File("Partial Downloads"));
    return std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(".dat"); });
  }
  // Bytes in the part files, which a resume would keep.
  int64_t PartBytes() const {
    int64_t total = 0;
    for (const auto& [start, size] : PartFiles()) total += size;
    return total;
  }
};

// What a case must end with: "Done" and these bytes when Failure is empty,
// else exit status 1 with that text and no finished file; only the file
// Kept, with the bytes, if named.
struct Expect {
  std::string Bytes;
  std::string Failure;
  std::string Kept{};
};

void ExpectEnd(const CliOutcome& outcome, const Profile& profile, const Expect& expect) {
  // A failure some routine caught and reported is a fault whatever the end.
  EXPECT_EQ(outcome.Err.find("brindle-cli: error in"), std::string::npos) << outcome.Err;
  if (expect.Failure.empty()) {
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "Done " + profile.Target() + "\n");
    const std::string got = test::ReadWholeFile(profile.Target());
    EXPECT_TRUE(got == expect.Bytes) << "wrong bytes";
    EXPECT_EQ(profile.OutFiles(), std::vector<std::string>{"f.bin"});
  } else {
    EXPECT_EQ(outcome.Status, 1) << outcome.Err;
    EXPECT_EQ(outcome.Out.find("Done"), std::string::npos) << outcome.Out;
    EXPECT_NE(outcome.Err.find(expect.Failure), std::string::npos) << outcome.Err;
    EXPECT_EQ(profile.OutFiles(), expect.Kept.empty() ? std::vector<std::string>{} : std::vector{expect.Kept});
    EXPECT_TRUE(expect.Kept.empty() || test::ReadWholeFile(profile.Target() + ".bad") == expect.Bytes);
  }
  EXPECT_EQ(profile.RecordFiles(), 1u);
}

// An HTTP server on its own thread whose answers a case scripts: the
// handler gets each request with its number (0 first) in the case.
class HttpCaseServer {
 public:
  using Handler = std::function<HttpReply(FaultHttpServer&, const HttpRequest&, int n)>;

  HttpCaseServer() : server_(thread_.Make<FaultHttpServer>()) {}
  void Use(Handler handler) {
    thread_.Call([this, handler = std::move(handler)] {
      auto count = std::make_shared<int>(0);
      server_.SetHandler([this, handler, count](const HttpRequest& r) { return handler(server_, r, (*count)++); });
    });
  }
  std::string Url(const std::string& path) const { return server_.Url(path); }
  void Call(const std::function<void(FaultHttpServer&)>& fn) {
    thread_.Call([&] { fn(server_); });
  }

 private:
  test::LoopThread thread_;
  FaultHttpServer& server_;
};

HttpReply File(const HttpRequest& r, const std::string& content, FileReplyOptions options = {}) {
  return test::FileReply(r, content, options);
}

struct HttpCase {
  const char* Name;
  HttpCaseServer::Handler Reply;
  Expect End;
  std::map<std::string, int> Settings{};
  std::vector<std::string> Args{};
};

void RunHttpCases(const std::vector<HttpCase>& cases) {
  HttpCaseServer server;
  for (const HttpCase& c : cases) {
    SCOPED_TRACE(c.Name);
    server.Use(c.Reply);
    Profile profile(c.Settings);
    ExpectEnd(profile.Run(server.Url("/f.bin"), {.Args = c.Args}), profile, c.End);
  }
}

// ---- Range and length ----

TEST(FaultMatrixITest, RangeAndLength) {
  RunHttpCases({
      // Parts whose answer is not their range fail; the first part, which
      // can use the whole file, takes their ranges over.
      {"RangeIgnored", [](auto&, auto& r, int) { return File(r, kOld, {.IgnoreRange = true}); }, {kOld, ""}},
      // Only the first piece is where it was asked for.
      {"ContentRangeOffByHundred",
       [](auto&, auto& r, int n) { return File(r, kOld, {.RangeShift = n > 0 ? 100 : 0}); },
       {"", "Content-Range does not start at byte"}},
      // "416, bytes */0" to "bytes=0-" is how a server says the file is empty.
      {"EmptyFile", [](auto&, auto& r, int) { return File(r, ""); }, {"", ""}},
  });
}

// ---- Framing: only bytes whose framing is understood reach a part file ----

// Close-delimited answers after a first one that told the size: only the
// range's end tells a cut from the end, and the cut parts resume.
TEST(FaultMatrixITest, CloseDelimitedBodyCutShort) {
  RunHttpCases({{"CloseDelimitedBodyCutShort",
                 [](auto&, auto& r, int n) {
                   HttpReply reply = File(r, kOld, {.NoLength = n > 0});
                   if (n == 1 || n == 2) reply.CloseAfter = 70000;
                   return reply;
                 },
                 {kOld, ""}}});
}

// ---- The file changed on the server ----

FileReplyOptions Validators(const std::string& eTag, const std::string& lastModified) {
  FileReplyOptions options;
  if (!eTag.empty()) options.ExtraHeaders.push_back("ETag: " + eTag);
  if (!lastModified.empty()) options.ExtraHeaders.push_back("Last-Modified: " + lastModified);
  return options;
}

const std::string kMonday = "Mon, 07 Dec 2026 10:00:00 GMT";
const std::string kTuesday = "Tue, 08 Dec 2026 10:00:00 GMT";

// Paused once every part holds bytes of the old version, the file changes,
// and the next run resumes: a change its validators or its size tell
// starts the download over, and brindle-cli says so.
TEST(FaultMatrixITest, FileChangedBetweenPauseAndResume) {
  const auto pauseWhenEveryPartHas = [](Profile& profile, int64_t bytes) {
    test::WaitFor([&] { return profile.PartBytes() >= 4 * bytes; });
    ASSERT_EQ(profile.PartBytes(), 4 * bytes);
    profile.Kill(SIGINT);
    ASSERT_EQ(profile.Wait().Status, 130);
  };
  const auto expectResumed = [](const CliOutcome& outcome, const Profile& profile, const std::string& bytes) {
    ExpectEnd(outcome, profile, {bytes, ""});
    const bool startedOver = outcome.Err.find("the file changed on the server; starting over") != std::string::npos;
    EXPECT_EQ(startedOver, bytes != kOld) << outcome.Err;
  };
  struct Case {
    const char* Name;
    FileReplyOptions Before, After;
    std::string NewContent;
  };
  const std::vector<Case> cases = {
      {"OtherETag", Validators("\"a\"", ""), Validators("\"b\"", ""), kNew},
      {"OtherLastModified", Validators("\"a\"", kMonday), Validators("W/\"b\"", kTuesday), kNew},
      {"SameValidators", Validators("\"a\"", kMonday), Validators("\"a\"", kMonday), kOld},
      // Shorter than where the parts stand: every resume meets 416.
      {"ShorterThanWhatIsHeld", {}, {}, kNew.substr(0, 100000)},
  };
  HttpCaseServer server;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::atomic<bool> changed = false;
    server.Use([&](auto&, auto& r, int) {
      if (changed) return File(r, c.NewContent, c.After);
      HttpReply reply = File(r, kOld, c.Before);
      reply.StallAt = {50000};
      return reply;
    });
    Profile profile;
    profile.Start(server.Url("/f.bin"));
    pauseWhenEveryPartHas(profile, 50000);
    changed = true;
    server.Call([](FaultHttpServer& s) { s.Release(); });
    expectResumed(profile.Run(server.Url("/f.bin")), profile, c.NewContent);
  }
}

// ---- Checksums ----

// The finished file is checked against the user's --checksum and against the
// first whole-file digest its server sent (Repr-Digest, Digest): one it
// lacks fails at once, without a retry, and its bytes stay as f.bin.bad.
TEST(FaultMatrixITest, Checksums) {
  const auto hex = [](const char* algorithm, const std::string& content) {
    return HexOf(test::DigestOf(algorithm, content));
  };
  const auto mismatch = [&](const char* algorithm, const std::string& from) {
    return Expect{kOld, "Checksum mismatch (expected " + std::string(algorithm) + "=" + hex(algorithm, kNew) + from +
                            ", got " + hex(algorithm, kOld) + ")",
                  "f.bin.bad"};
  };
  RunHttpCases({
      {"WrongChecksum", [](auto&, auto& r, int) { return File(r, kOld); }, mismatch("sha256", ""), {},
       {"--checksum", "sha256=" + hex("sha256", kNew)}},
      // Told once, on the first answer; the parts' answers say nothing.
      {"ReprDigestLies",
       [](auto&, auto& r, int n) {
         FileReplyOptions options;
         if (n == 0) options.ExtraHeaders = {test::ReprDigestLine(kNew)};
         return File(r, kOld, options);
       },
       mismatch("sha256", " from the server")},
  });
}

// ---- Redirections, FTP and stalls: one of each, for brindle-cli's end ----

TEST(FaultMatrixITest, EndlessRedirectionsFail) {
  RunHttpCases({{"EndlessRedirections",
                 [](auto&, auto&, int n) { return test::RedirectReply(302, "/r" + std::to_string(n)); },
                 {"", "Too many redirections"}}});
}

// Without SIZE: one part of unknown size, whole only when the server says so
// after the data; a cut one resumes.
TEST(FaultMatrixITest, FtpSizeMissingDataDropped) {
  test::LoopThread thread;
  FaultFtpServer& server = thread.Make<FaultFtpServer>();
  thread.Call([&] {
    server.AddFile("/pub/f.bin", kOld);
    server.SetReply("SIZE", "500 Unknown command");
    server.DropAfter = 150000;
    server.DropTransfers = 1;
    server.DropEnd = "426 Connection closed; transfer aborted";
  });
  Profile profile({{"StallTimeOut", 1}, {"TimeOutTime", 2000}});
  ExpectEnd(profile.Run(server.Url("/pub/f.bin")), profile, {kOld, ""});
}

// Stalled for good before any byte: it fails after its retries instead of
// hanging. (A server that sends some bytes each time is retried as long as
// it does: the retry count restarts when data flows.)
TEST(FaultMatrixITest, EveryAnswerStallsFails) {
  RunHttpCases({{"EveryAnswerStalls",
                 [](auto&, auto& r, int) {
                   HttpReply reply = File(r, kOld);
                   reply.StallAt = {0};
                   return reply;
                 },
                 {"", "Lost connection to server"},
                 {{"StallTimeOut", 1}}}});
}

// ---- A full disk ----

TEST(FaultMatrixITest, FileSizeLimitFailsCleanlyAndResumesOnceLifted) {
  struct Case {
    const char* Name;
    int64_t Limit;
    const char* Failure;
  };
  // Four parts of 256 KiB: the first limit stops the parts, the second (room
  // for three parts, not for the whole file) only the join.
  const std::vector<Case> cases = {
      {"PartWrite", 100000, "Can't write the part file (File too large)"},
      {"Join", 800000, "Couldn't write"},
  };
  HttpCaseServer server;
  server.Use([](auto&, auto& r, int) { return File(r, kOld); });
  // Slow enough that every part has begun before the first ends, so that no
  // part takes a range over and grows past the limit meant for the join.
  server.Call([](FaultHttpServer& s) { s.SetRateLimit(2 * 1024 * 1024); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Profile profile;
    const CliOutcome full = profile.Run(server.Url("/f.bin"), {.FileSizeLimit = c.Limit});
    EXPECT_EQ(full.Signal, 0);
    ExpectEnd(full, profile, {"", c.Failure});
    const int64_t kept = profile.PartBytes();
    EXPECT_GT(kept, 0);
    ExpectEnd(profile.Run(server.Url("/f.bin")), profile, {kOld, ""});
  }
}

}  // namespace
}  // namespace brindle
