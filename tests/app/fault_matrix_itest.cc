// Misbehaving servers and a full disk, end to end through brindle-cli: every
// case ends with the server's exact bytes and "Done", or with exit status 1,
// the reason, and no finished file. Never "Done" with other bytes.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <functional>
#include <map>
#include <set>
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
#include "support/test_certificates.h"
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

// What a case must end with: "Done" and these bytes (or, where two ends are
// sound, the other ones) when Failure is empty, else exit status 1 with that
// text and no finished file; only the file Kept, with the bytes, if named.
struct Expect {
  std::string Bytes;
  std::string Failure;
  std::string OrBytes{};
  std::string Kept{};
};

void ExpectEnd(const CliOutcome& outcome, const Profile& profile, const Expect& expect) {
  // A failure some routine caught and reported is a fault whatever the end.
  EXPECT_EQ(outcome.Err.find("brindle-cli: error in"), std::string::npos) << outcome.Err;
  if (expect.Failure.empty()) {
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "Done " + profile.Target() + "\n");
    const std::string got = test::ReadWholeFile(profile.Target());
    EXPECT_TRUE(got == expect.Bytes || (!expect.OrBytes.empty() && got == expect.OrBytes)) << "wrong bytes";
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

// tls: the server speaks https with these certificates' "Good" one.
void RunHttpCases(const std::vector<HttpCase>& cases, const test::TestCertificates* tls = nullptr) {
  HttpCaseServer server;
  if (tls) server.Call([tls](FaultHttpServer& s) { s.EnableTls(tls->Good, tls->Key); });
  for (const HttpCase& c : cases) {
    SCOPED_TRACE(c.Name);
    server.Use(c.Reply);
    Profile profile(c.Settings);
    ExpectEnd(profile.Run(server.Url("/f.bin"), {.Args = c.Args}), profile, c.End);
  }
}

// ---- Range and length ----

TEST(FaultMatrixITest, RangeAndLength) {
  const Expect done{kOld, ""};
  RunHttpCases({
      // Parts whose answer is not their range fail; the first part, which
      // can use the whole file, takes their ranges over.
      {"RangeIgnored", [](auto&, auto& r, int) { return File(r, kOld, {.IgnoreRange = true}); },
       done},
      {"RangeIgnoredAfterTheFirstAnswer",
       [](auto&, auto& r, int n) { return File(r, kOld, {.IgnoreRange = n > 0}); }, done},
      // Only the first piece is where it was asked for.
      {"ContentRangeOffByHundred",
       [](auto&, auto& r, int n) { return File(r, kOld, {.RangeShift = n > 0 ? 100 : 0}); },
       {"", "Content-Range does not start at byte"}},
      // Each cut part resumes where it stopped.
      {"LengthLongerThanTheBodyOnce",
       [](auto&, auto& r, int n) { return File(r, kOld, {.LengthDelta = n == 1 ? 5000 : 0}); }, done},
      {"LengthLongerThanTheBodyAlways", [](auto&, auto& r, int) { return File(r, kOld, {.LengthDelta = 5000}); },
       done},
      // Close-delimited answers after a first one that told the size.
      {"CloseDelimitedBodyCutShort",
       [](auto&, auto& r, int n) {
         HttpReply reply = File(r, kOld, {.NoLength = n > 0});
         if (n == 1 || n == 2) reply.CloseAfter = 70000;
         return reply;
       },
       done},
      // "416, bytes */0" to "bytes=0-" is how a server says the file is empty.
      {"EmptyFile", [](auto&, auto& r, int) { return File(r, ""); }, {"", ""}},
  });
}

// ---- Framing: only bytes whose framing is understood reach a part file ----

TEST(FaultMatrixITest, Framing) {
  const Expect done{kOld, ""};
  RunHttpCases({
      // Every part's range, in chunks cut anywhere by the reads.
      {"ChunkedRangesHonoured", [](auto&, auto& r, int) { return File(r, kOld, {.ChunkSize = 3000}); }, done},
      {"ChunkedWithExtensionsAndTrailers",
       [](auto&, auto& r, int) {
         return File(r, kOld, {.ChunkSize = 70000, .ChunkExtension = ";sig=\"a;b\"",
                               .Trailers = {"Expires: never", "X-Checksum: 1"}});
       },
       done},
      // No size anywhere: only the missing last chunk tells the cut.
      {"ChunkedBodyCutShort",
       [](auto&, auto& r, int n) {
         HttpReply reply = File(r, kOld, {.NoLength = true, .ChunkSize = 4096});
         if (n == 0) reply.CloseAfter = 70000;
         return reply;
       },
       done},
  });

  // Over https a body without a size is whole only with close_notify; cut
  // without it, it resumes. (Plain HTTP cannot tell such a cut from the end.)
  const test::TestCertificates& certs = test::SharedTestCertificates();
  test::TrustTestAuthority trust(certs);
  RunHttpCases({{"TlsBodyCutWithoutCloseNotify",
                 [](auto&, auto& r, int n) {
                   HttpReply reply = File(r, kOld, {.NoLength = true});
                   if (n == 0) reply.CloseAfter = 70000;
                   return reply;
                 },
                 done}},
               &certs);
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

TEST(FaultMatrixITest, FileChangedBetweenParts) {
  // From the second request on, the server has the new version: the
  // download starts over once and ends with the new bytes only, unless the
  // first part brought the whole old version before any other answer came.
  RunHttpCases({
      {"OtherLastModified",
       [](auto&, auto& r, int n) { return n == 0 ? File(r, kOld, Validators("", kMonday)) : File(r, kNew, Validators("", kTuesday)); },
       {kNew, "", kOld}},
      {"OtherSize",
       [](auto&, auto& r, int n) { return n == 0 ? File(r, kOld) : File(r, kNew.substr(1)); },
       {kNew.substr(1), "", kOld}},
  });
}

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
      {"OtherSize", {}, {}, kNew.substr(1)},
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

  // FTP tells a change by the size alone, asked again on every start.
  for (const std::string& newContent : {kNew.substr(1), kNew.substr(0, 100000)}) {
    SCOPED_TRACE(newContent.size());
    test::LoopThread thread;
    FaultFtpServer& ftp = thread.Make<FaultFtpServer>();
    thread.Call([&] {
      ftp.AddFile("/pub/f.bin", kOld);
      ftp.StallAt = {50000};
    });
    Profile profile({{"StallTimeOut", 1}, {"TimeOutTime", 2000}});
    profile.Start(ftp.Url("/pub/f.bin"));
    pauseWhenEveryPartHas(profile, 50000);
    thread.Call([&] {
      ftp.AddFile("/pub/f.bin", newContent);
      ftp.StallAt.clear();
      ftp.Release();
    });
    expectResumed(profile.Run(ftp.Url("/pub/f.bin")), profile, newContent);
  }
}

// ---- Checksums ----

// The finished file is checked against the user's --checksum and against the
// first whole-file digest its server sent (Repr-Digest, Digest): one it
// lacks fails at once, without a retry, and its bytes stay as f.bin.bad.
// Content-Digest covers a 206's part only and is never taken for the file's.
TEST(FaultMatrixITest, Checksums) {
  const auto hex = [](const char* algorithm, const std::string& content) {
    return HexOf(test::DigestOf(algorithm, content));
  };
  const auto mismatch = [&](const char* algorithm, const std::string& from) {
    return Expect{kOld, "Checksum mismatch (expected " + std::string(algorithm) + "=" + hex(algorithm, kNew) + from +
                            ", got " + hex(algorithm, kOld) + ")",
                  "", "f.bin.bad"};
  };
  const std::vector<std::string> right = {"--checksum", "sha256=" + hex("sha256", kOld)};
  RunHttpCases({
      {"RightChecksum", [](auto&, auto& r, int) { return File(r, kOld); }, {kOld, ""}, {}, right},
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
      {"DigestLies",
       [](auto&, auto& r, int) {
         return File(r, kOld, {.ExtraHeaders = {"Digest: SHA-512=" + test::Base64(test::DigestOf("sha512", kNew))}});
       },
       mismatch("sha512", " from the server")},
      // Each part's own digest, from the second answer on: taken for the
      // file's, the first of them would fail the right checksum.
      {"ContentDigestOfEachPart",
       [](auto&, auto& r, int n) {
         HttpReply reply = File(r, kOld);
         const std::string digest = test::Base64(test::DigestOf("sha256", reply.Body));
         if (n > 0) reply.Head.insert(reply.Head.size() - 2, "Content-Digest: sha-256=:" + digest + ":\r\n");
         return reply;
       },
       {kOld, ""}, {}, right},
  });
}

// ---- Redirections ----

TEST(FaultMatrixITest, Redirections) {
  FaultFtpServer* ftp = nullptr;
  test::LoopThread ftpThread;
  ftp = &ftpThread.Make<FaultFtpServer>();
  ftpThread.Call([&] { ftp->AddFile("/pub/f.bin", kOld); });
  const std::string ftpUrl = ftp->Url("/pub/f.bin");
  // /r<k> sends to /r<k+1>, the last one to the file.
  const auto chain = [](int length) {
    return [length](FaultHttpServer& s, const HttpRequest& r, int) {
      if (r.Target == "/f.bin") return s.Serve(r);
      const int k = std::stoi(r.Target.substr(2));
      return test::RedirectReply(302, k + 1 < length ? "/r" + std::to_string(k + 1) : "/f.bin");
    };
  };
  HttpCaseServer server;
  server.Call([](FaultHttpServer& s) { s.AddFile("/f.bin", kOld); });
  const std::vector<HttpCase> cases = {
      {"ChainOfTwenty", chain(20), {kOld, ""}},
      {"ChainOfTwentyOne", chain(21), {"", "Too many redirections"}},
      {"ToFtp", [ftpUrl](auto&, auto&, int) { return test::RedirectReply(301, ftpUrl); }, {"", "ftp://"}},
      {"Relative",
       [](FaultHttpServer& s, const HttpRequest& r, int) {
         return r.Target == "/dir/r0" ? test::RedirectReply(307, "../f.bin") : s.Serve(r);
       },
       {kOld, ""}},
  };
  for (const HttpCase& c : cases) {
    SCOPED_TRACE(c.Name);
    server.Use(c.Reply);
    Profile profile;
    ExpectEnd(profile.Run(server.Url(std::string(c.Name) == "Relative" ? "/dir/r0" : "/r0")), profile, c.End);
  }
}

// ---- FTP ----

TEST(FaultMatrixITest, Ftp) {
  struct Case {
    const char* Name;
    std::function<void(FaultFtpServer&)> Spoil;
    Expect End;
    int Passive = 1;
  };
  const std::vector<Case> cases = {
      // Unsplit, from the first byte.
      {"RestRefused", [](FaultFtpServer& s) { s.SetReply("REST", "502 REST not implemented"); }, {kOld, ""}},
      // Without SIZE: one part of unknown size, whole only when the server
      // says so after the data; a cut one resumes.
      {"SizeMissing", [](FaultFtpServer& s) { s.SetReply("SIZE", "502 SIZE not implemented"); }, {kOld, ""}},
      {"SizeMissingDataDropped",
       [](FaultFtpServer& s) {
         s.SetReply("SIZE", "500 Unknown command");
         s.DropAfter = 150000;
         s.DropTransfers = 1;
         s.DropEnd = "426 Connection closed; transfer aborted";
       },
       {kOld, ""}},
      {"DataConnectionDropped",
       [](FaultFtpServer& s) {
         s.DropAfter = 150000;
         s.DropTransfers = 3;
       },
       {kOld, ""}},
      {"DataConnectionDroppedActive",
       [](FaultFtpServer& s) {
         s.DropAfter = 150000;
         s.DropTransfers = 3;
       },
       {kOld, ""}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    test::LoopThread thread;
    FaultFtpServer& server = thread.Make<FaultFtpServer>();
    thread.Call([&] {
      server.AddFile("/pub/f.bin", kOld);
      c.Spoil(server);
    });
    Profile profile({{"StallTimeOut", 1}, {"TimeOutTime", 2000}, {"PassiveMode", c.Passive}});
    ExpectEnd(profile.Run(server.Url("/pub/f.bin")), profile, c.End);
  }
}

// ---- Slow and stalled servers ----

TEST(FaultMatrixITest, SlowAndStalledServers) {
  const Expect done{kOld, ""};
  RunHttpCases({
      // A part stalls after its first bytes; the stall rule ends it and a
      // retry resumes it.
      {"PartStallsMidBody",
       [](auto&, auto& r, int n) {
         HttpReply reply = File(r, kOld);
         if (n == 2) reply.StallAt = {20000};
         return reply;
       },
       done, {{"StallTimeOut", 1}}},
      {"ServerTakesTheRequestAndNeverAnswers",
       [](auto&, auto& r, int n) { return n == 0 ? HttpReply{.StallAt = {0}} : File(r, kOld); }, done,
       {{"StallTimeOut", 1}}},
      {"HeadersStallHalfway",
       [](auto&, auto& r, int n) {
         HttpReply reply = File(r, kOld);
         if (n == 1) reply = HttpReply{.Head = "", .Body = reply.Head.substr(0, 20), .StallAt = {20}};
         return reply;
       },
       done, {{"StallTimeOut", 2}}},
      // Stalled for good before any byte: it fails after its retries
      // instead of hanging. (A server that sends some bytes each time is
      // retried as long as it does: the retry count restarts when data flows.)
      {"EveryAnswerStalls",
       [](auto&, auto& r, int) {
         HttpReply reply = File(r, kOld);
         reply.StallAt = {0};
         return reply;
       },
       {"", "Lost connection to server"}, {{"StallTimeOut", 1}}},
  });

  // Slow is not stalled: 256 kB/s per connection is never cut.
  HttpCaseServer slow;
  slow.Call([](FaultHttpServer& s) { s.SetRateLimit(256 * 1024); });
  slow.Use([](auto&, auto& r, int) { return File(r, kOld); });
  Profile profile({{"StallTimeOut", 1}});
  ExpectEnd(profile.Run(slow.Url("/f.bin")), profile, done);
}

// ---- Names taken while downloading ----

// Two profiles fetch two files into one folder under one name, and a user's
// file takes that name before either joins: nothing is replaced, each
// download claims the next free name when its file is whole and says which.
TEST(FaultMatrixITest, NameTakenWhileDownloadingIsNeverReplaced) {
  HttpCaseServer server;
  std::atomic<bool> held = true;
  server.Use([&held](auto&, auto& r, int) {
    HttpReply reply = File(r, r.Target == "/a" ? kOld : kNew);
    if (held) reply.StallAt = {1000};
    return reply;
  });
  test::TempDir shared;
  Profile a, b;
  a.Start(server.Url("/a"), {.Args = {"-d", shared.Path()}});
  b.Start(server.Url("/b"), {.Args = {"-d", shared.Path()}});
  test::WaitFor([&] { return a.PartBytes() >= 4000 && b.PartBytes() >= 4000; });
  test::WriteWholeFile(shared.File("f.bin"), "the user's own file");
  held = false;
  server.Call([](FaultHttpServer& s) { s.Release(); });
  const CliOutcome endA = a.Wait(30000), endB = b.Wait(30000);
  ASSERT_EQ(endA.Status, 0) << endA.Err;
  ASSERT_EQ(endB.Status, 0) << endB.Err;
  EXPECT_EQ(test::ReadWholeFile(shared.File("f.bin")), "the user's own file");
  // "Done <path>\n": the name each download got.
  const std::string pathA = endA.Out.substr(5, endA.Out.size() - 6);
  const std::string pathB = endB.Out.substr(5, endB.Out.size() - 6);
  EXPECT_EQ((std::set<std::string>{pathA, pathB}),
            (std::set<std::string>{shared.File("f(1).bin"), shared.File("f(2).bin")}));
  EXPECT_TRUE(test::ReadWholeFile(pathA) == kOld);
  EXPECT_TRUE(test::ReadWholeFile(pathB) == kNew);
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
