#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "core/event_loop.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_request.h"
#include "platform/hand_over_socket.h"
#include "support/crafted_zip.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/loop_thread.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::HttpRequest;

using test::Outcome;

// The server runs on a loop of its own thread, since the program under test
// is a real process.
class ServerThread {
 public:
  explicit ServerThread(const std::string& content) : server_(thread_.Make<test::FaultHttpServer>()) {
    thread_.Call([&] {
      server_.AddFile("/f.bin", content);
      server_.AddFile("/g.bin", content.substr(1000));
    });
  }
  std::string Url(const std::string& path) const { return server_.Url(path); }
  // Every later answer stops after offset body bytes (-1: none) until Release.
  void StallAt(int64_t offset) {
    thread_.Call([&] { offset < 0 ? server_.SetHandler(nullptr) : server_.StallFilesAt(offset); });
  }
  void Release() {
    thread_.Call([this] { server_.Release(); });
  }
  // The requests since the last call.
  std::vector<HttpRequest> TakeRequests() {
    std::vector<HttpRequest> fresh;
    thread_.Call([this, &fresh] {
      fresh.assign(server_.Requests().begin() + static_cast<ptrdiff_t>(taken_), server_.Requests().end());
      taken_ = server_.Requests().size();
    });
    return fresh;
  }

 private:
  test::LoopThread thread_;
  test::FaultHttpServer& server_;
  size_t taken_ = 0;
};

class CliITest : public test::CliProcessTest {
 protected:
  const std::string content_ = test::MakeContent(2 * 1024 * 1024 + 123);
};

// A failure a routine catches is never silent: its routine and text go to
// standard error, quiet or not, and the download goes on.
TEST_F(CliITest, CaughtFailureIsReportedOnStandardErrorAndTheDownloadGoesOn) {
  ServerThread server(content_);
  const Outcome outcome =
      cli_.Run({{"-q", "-d", out_.Path(), server.Url("/f.bin")}, {"BRINDLE_FAIL_AT=start-download"}});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_EQ(outcome.Err,
            "brindle-cli: error in TDownloadSystem.OnStartDownload: failure injected at start-download\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
}

// SIGTERM pauses like Ctrl-C (the fault matrix pauses with SIGINT).
TEST_F(CliITest, InterruptedDownloadResumesWithoutFetchingDoneBytesAgain) {
  ServerThread server(content_);
  server.StallAt(100000);
  Start({"-s", "4", "-d", out_.Path(), server.Url("/f.bin")});
  ASSERT_TRUE(WaitForParts(4, 100000));
  Kill(SIGTERM);
  const Outcome interrupted = Wait();
  ASSERT_EQ(interrupted.Status, 130) << interrupted.Err;
  EXPECT_FALSE(test::FileExists(out_.File("f.bin")));
  const auto done = PartFiles();
  ASSERT_EQ(done.size(), 4u);
  server.TakeRequests();

  server.StallAt(-1);
  const Outcome resumed = Cli({"-q", "-d", out_.Path(), server.Url("/f.bin")});
  ASSERT_EQ(resumed.Status, 0) << resumed.Err;
  EXPECT_EQ(resumed.Out, "Done " + out_.File("f.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  const auto requests = server.TakeRequests();
  ASSERT_FALSE(requests.empty());
  for (const HttpRequest& r : requests) {
    ASSERT_TRUE(r.Range()) << r.Raw;
    for (const auto& [start, size] : done)
      EXPECT_FALSE(r.Range()->first >= start && r.Range()->first < start + size) << r.Raw;
  }
}

// The same command again reports the finished file and fetches nothing while
// the file is there at its size; deleted or changed, the file is fetched
// again without overwriting anything, and another -o name fetches a copy.
TEST_F(CliITest, FinishedFileIsFetchedAgainOnlyWhenGoneChangedOrNamedOtherwise) {
  ServerThread server(content_);
  const std::string f = out_.File("f.bin");
  struct Step {
    std::string what;
    std::vector<std::string> args;  // before the URL
    std::string done;               // the path "Done" names
    bool fetched;
  };
  const std::vector<Step> steps = {
      {"first run", {}, f, true},
      {"again", {}, f, false},
      {"again with its name", {"-o", "f.bin"}, f, false},
      {"deleted", {}, f, true},
      {"changed", {}, out_.File("f(1).bin"), true},
      {"another name", {"-o", "g.bin"}, out_.File("g.bin"), true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.what == "deleted") std::filesystem::remove(f);
    if (step.what == "changed") test::WriteWholeFile(f, "edited");
    std::vector<std::string> args = {"-q", "-d", out_.Path()};
    args.insert(args.end(), step.args.begin(), step.args.end());
    args.push_back(server.Url("/f.bin"));
    const Outcome outcome = Cli(args);
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "Done " + step.done + "\n");
    EXPECT_TRUE(test::ReadWholeFile(step.done) == content_);
    EXPECT_EQ(server.TakeRequests().empty(), !step.fetched);
  }
  EXPECT_EQ(test::ReadWholeFile(f), "edited");
}

// Without a runtime folder the hand-over channel lives in a folder of the
// user's own, which brindle-cli names unless told to be quiet.
TEST_F(CliITest, WithoutARuntimeFolderTheChannelsFolderIsNamed) {
  ServerThread server(content_);
  const std::string cache = out_.File("cache");
  for (const bool quiet : {false, true}) {
    std::vector<std::string> args = {"-d", out_.Path(), server.Url("/f.bin")};
    if (quiet) args.insert(args.begin(), "-q");
    const Outcome outcome = cli_.Run({args, {"XDG_RUNTIME_DIR=", "XDG_CACHE_HOME=" + cache}});
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, quiet ? "" : "brindle-cli: XDG_RUNTIME_DIR is not usable, so the hand-over channel is in " +
                                            cache + "/brindle\n");
  }
}

// Found before any request, also for the download folder of the settings
// (no -d). Injected, since permissions stop nothing for root.
TEST_F(CliITest, UnwritableFolderFailsBeforeAnyRequest) {
  ServerThread server(content_);
  for (const bool withDir : {true, false}) {
    SCOPED_TRACE(withDir ? "-d" : "download folder");
    std::vector<std::string> args = {server.Url("/f.bin")};
    if (withDir) args.insert(args.begin(), {"-d", out_.Path()});
    const Outcome outcome =
        cli_.Run({args, {"XDG_DOWNLOAD_DIR=" + out_.Path(), "BRINDLE_FAIL_AT=write-check:" + out_.Path()}});
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "brindle-cli: cannot write to " + out_.Path() + ": Read-only file system\n");
    EXPECT_TRUE(server.TakeRequests().empty());
  }
}

// What no wait mends fails at once, whatever the retries, with the reason.
TEST_F(CliITest, MissingFileOrRefusedLoginFailsAtOnceWithTheReason) {
  ServerThread server(content_);
  test::LoopThread thread;
  test::FaultFtpServer& ftp = thread.Make<test::FaultFtpServer>();
  thread.Call([&] { ftp.SetReply("PASS", "530 Login incorrect"); });
  const struct {
    std::string url;
    const char* reason;
  } cases[] = {
      {server.Url("/missing.bin"), "File not found"},
      {ftp.Url("/pub/f.bin"), "Couldn't login"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Cli({"-d", out_.Path(), c.url});
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_NE(outcome.Err.find(c.reason), std::string::npos) << outcome.Err;
    EXPECT_EQ(outcome.Out, "");
  }
  EXPECT_EQ(server.TakeRequests().size(), 1u);  // no retry
  thread.Call([&] {
    EXPECT_EQ(std::count_if(ftp.Commands().begin(), ftp.Commands().end(),
                            [](const std::string& line) { return line.starts_with("PASS"); }),
              1);
  });
}

// Each refused option form is the options test's; here the exit status and the message.
TEST_F(CliITest, BadUsageAndUnsupportedAddressesExitWithTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no URL"},
      {{"-o", "x", "http://127.0.0.1:9/a", "http://127.0.0.1:9/b"}, "one URL"},
      {{"gopher://127.0.0.1:9/a"}, "unsupported address"},
      {{"mailto:someone@example.org"}, "unsupported address"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome outcome = Cli(args);
    EXPECT_EQ(outcome.Status, 2) << message;
    EXPECT_NE(outcome.Err.find(message), std::string::npos) << outcome.Err;
  }
  EXPECT_FALSE(test::FileExists(home_.File("Partial Downloads")));
}

TEST_F(CliITest, SecondStartHandsItsUrlToTheRunningOne) {
  ServerThread server(content_);
  server.StallAt(100000);
  Start({"-q", "-d", out_.Path(), server.Url("/f.bin")});
  // The first one holds the lock once its download has begun.
  test::WaitFor([this] { return !PartFiles().empty(); });

  // Anything but an http or ftp address is taken and ignored.
  EXPECT_EQ(HandOver(HandOverSocketPath(home_.Path()), THandOverRequest::PlainText("mailto:a@b.org"), 5000), 1);

  test::TempDir other;
  test::TempDir secondLog;
  test::CliProcess second(test::kCli, home_.Path(), secondLog.Path());
  const Outcome handedOver = second.Run({{"-d", other.Path(), server.Url("/g.bin")}});
  EXPECT_EQ(handedOver.Status, 0);
  EXPECT_EQ(handedOver.Out, "Handed over to the running Brindle\n");

  server.StallAt(-1);
  server.Release();
  const Outcome outcome = Wait();
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_NE(outcome.Out.find("Done " + other.File("g.bin")), std::string::npos) << outcome.Out;
  EXPECT_TRUE(test::ReadWholeFile(other.File("g.bin")) == content_.substr(1000));
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  EXPECT_EQ(outcome.Out.find("mailto"), std::string::npos);
  EXPECT_EQ(std::count(outcome.Out.begin(), outcome.Out.end(), '\n'), 2);
}

TEST_F(CliITest, OneJobRunsTheDownloadsOneAfterTheOther) {
  ServerThread server(content_);
  const Outcome outcome = Cli({"-q", "-j", "1", "-d", out_.Path(), server.Url("/f.bin"), server.Url("/g.bin")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  EXPECT_TRUE(test::ReadWholeFile(out_.File("g.bin")) == content_.substr(1000));
  const auto requests = server.TakeRequests();
  size_t lastF = 0, firstG = requests.size();
  for (size_t i = 0; i < requests.size(); ++i) {
    if (requests[i].Target == "/f.bin") lastF = i;
    if (requests[i].Target == "/g.bin" && firstG == requests.size()) firstG = i;
  }
  EXPECT_LT(lastF, firstG);
}

TEST_F(CliITest, HelpAndVersionSucceed) {
  EXPECT_EQ(Cli({"--help"}).Status, 0);
  const Outcome version = Cli({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("brindle-cli ", 0), 0u);
}

class CliUnzipITest : public test::CliProcessTest {
 protected:
  // A copy of a test archive in the output directory, so that the default
  // folder lands there.
  std::string CopyArchive(const std::string& name, const std::string& as) const {
    test::WriteWholeFile(out_.File(as), test::ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/" + name));
    return out_.File(as);
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(text.substr(at, end - at));
    return lines;
  }
};

TEST_F(CliUnzipITest, ExtractsBesideTheArchiveAndListsEveryEntry) {
  const Outcome outcome = Cli({"--unzip", CopyArchive("infozip-nested-dirs.zip", "nested.zip")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  const std::vector<std::string> lines = Lines(outcome.Out);
  ASSERT_EQ(lines.size(), 13u) << outcome.Out;
  EXPECT_EQ(lines[0], "project/: extracted");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "project/data/random-2k.bin: extracted"), lines.end());
  EXPECT_EQ(lines.back(), "12 entries extracted into " + out_.File("nested"));
  const std::string inputs = std::string(BRINDLE_TEST_DATA) + "/zip/inputs/infozip/";
  for (const char* file : {"project/README.txt", "project/data/random-2k.bin", "project/docs/guide/usage.txt"})
    EXPECT_TRUE(test::ReadWholeFile(out_.File("nested/") + file) == test::ReadWholeFile(inputs + file)) << file;
  EXPECT_TRUE(std::filesystem::is_directory(out_.File("nested/project/empty-dir")));
}

TEST_F(CliUnzipITest, AnyFailedEntryEndsWithStatusOne) {
  struct Case {
    std::string archive;
    std::vector<std::string> lines;  // stdout; the last one the count
    std::string error;               // on stderr
  };
  const std::vector<Case> cases = {
      {"hostile-bad-crc.zip", {"crc.txt: failed: CRC mismatch", "0 entries extracted into DIR, 1 failed"}, ""},
      {"hostile-dotdot.zip",
       {"good.txt: extracted", "../evil.txt: failed: not written (unsafe name or write error)",
        "1 entry extracted into DIR, 1 failed"},
       ""},
      {"infozip-encrypted.zip",
       {"public.txt: extracted", "secret.txt: failed: encrypted", "1 entry extracted into DIR, 1 failed"}, ""},
      {"hostile-truncated-cd.zip", {}, "damaged archive"},
      {"README.md", {}, "not a ZIP archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    test::TempDir target;
    const std::string dir = target.File("into");
    const Outcome outcome = Cli({"--unzip", std::string(BRINDLE_TEST_DATA) + "/zip/" + c.archive, dir});
    EXPECT_EQ(outcome.Status, 1);
    std::vector<std::string> expected = c.lines;
    if (!expected.empty()) expected.back().replace(expected.back().find("DIR"), 3, dir);
    EXPECT_EQ(Lines(outcome.Out), expected);
    EXPECT_NE(outcome.Err.find(c.error), std::string::npos) << outcome.Err;
    // Nothing of a failed entry is left, nothing lands outside the target.
    EXPECT_FALSE(test::FileExists(dir + "/crc.txt"));
    EXPECT_FALSE(test::FileExists(target.File("evil.txt")));
    EXPECT_FALSE(test::FileExists(dir + "/secret.txt"));
  }
}

// Names from an archive reach the terminal escaped (C0, DEL and C1), so
// none can retitle the window, set colours or forge a line; on disk their
// C0 controls and DEL are "_".
TEST_F(CliUnzipITest, NamesAreListedEscapedAndWrittenWithUnderscores) {
  const std::string archive = out_.File("names.zip");
  test::WriteWholeFile(archive, test::BuildArchive({test::Stored("\x1B]0;owned\x07\x1B[31mred.txt", "1"),
                                                    test::Stored("a.txt\n3 entries extracted into /etc", "2"),
                                                    test::Stored("csi\xC2\x9B" "2J\x7F.txt", "3")}));
  const Outcome outcome = Cli({"--unzip", archive});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_EQ(Lines(outcome.Out), (std::vector<std::string>{
                                    "\\x1b]0;owned\\x07\\x1b[31mred.txt: extracted",
                                    "a.txt\\x0a3 entries extracted into /etc: extracted",
                                    "csi\\u009b2J\\x7f.txt: extracted",
                                    "3 entries extracted into " + out_.File("names"),
                                }));
  EXPECT_EQ(test::ReadWholeFile(out_.File("names/_]0;owned__[31mred.txt")), "1");
  EXPECT_EQ(test::ReadWholeFile(out_.File("names/a.txt_3 entries extracted into /etc")), "2");
}

// An archive whose directory declares over 1 GiB and 200 times its own size
// is extracted only with --force; one the disk cannot take, never.
TEST_F(CliUnzipITest, ArchivesDeclaringTooMuchAreRefusedBeforeAnyFile) {
  std::vector<test::TestEntry> entries{test::Stored("small.txt", "small")};
  entries.back().directory_size = int64_t{3} << 30;
  const std::string archive = out_.File("bomb.zip");
  const std::string bytes = test::BuildArchive(entries);
  test::WriteWholeFile(archive, bytes);
  const std::string ratio = std::to_string((int64_t{3} << 30) / static_cast<int64_t>(bytes.size()));
  const std::string dir = out_.File("into");
  const std::string plenty = "BRINDLE_FREE_SPACE=" + std::to_string(int64_t{100} << 30);
  struct Case {
    std::vector<std::string> args;
    std::string freeSpace;
    int status;
    std::string error;  // on stderr
  };
  const Case cases[] = {
      {{"--unzip", archive, dir}, plenty, 1,
       "brindle-cli: " + archive + ": not extracted: its entries declare 3.00 Gb, " + ratio +
           " times the archive's own size, as archives made to fill the disk do; add --force after --unzip to extract "
           "it all the same\n"},
      {{"--unzip", archive, dir, "--force"}, "BRINDLE_FREE_SPACE=1000000", 1,
       "its entries declare 3.00 Gb, but " + dir + " has only 977 kb free (5 % of it is kept free)\n"},
      {{"--unzip", archive, "--force", dir}, plenty, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const Outcome outcome = cli_.Run({.Args = c.args, .Env = {c.freeSpace}});
    EXPECT_EQ(outcome.Status, c.status) << outcome.Err;
    EXPECT_NE(outcome.Err.find(c.error), std::string::npos) << outcome.Err;
    EXPECT_EQ(test::FileExists(dir + "/small.txt"), c.status == 0);
    if (c.status != 0) {
      EXPECT_FALSE(test::FileExists(dir));
    }
  }
}

}  // namespace
}  // namespace brindle
