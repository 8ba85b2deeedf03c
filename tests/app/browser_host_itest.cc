// brindle-host as the browser runs it: a child process fed framed JSON on
// its stdin, answering on its stdout, handing taken downloads to a running
// instance over the hand-over channel.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "cli_process.h"
#include "core/event_loop.h"
#include "core/settings.h"
#include "platform/hand_over_server.h"
#include "platform/instance_lock.h"
#include "platform/registry_hive_file.h"
#include "support/fault_http_server.h"
#include "support/loop_thread.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

const std::string kHost = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle-host";

std::string Frame(const std::string& json) {
  const uint32_t length = static_cast<uint32_t>(json.size());
  std::string frame(4, '\0');
  std::memcpy(frame.data(), &length, 4);
  return frame + json;
}

// The JSON bodies of the frames in output; whatever is left over is kept in rest.
std::vector<std::string> Unframe(std::string output, std::string& rest) {
  std::vector<std::string> messages;
  while (output.size() >= 4) {
    uint32_t length = 0;
    std::memcpy(&length, output.data(), 4);
    if (output.size() - 4 < length) break;
    messages.push_back(output.substr(4, length));
    output.erase(0, 4 + length);
  }
  rest = output;
  return messages;
}

struct HostRun {
  int Status = -1;
  std::vector<std::string> Answers;
  std::string Rest;  // bytes on stdout that are not whole frames
  std::string Err;
};

// The running instance: a hand-over channel on its own loop that records
// what it receives.
struct TestInstance {
  explicit TestInstance(EventLoop& loop) : Server(&loop) {
    Server.OnHandOver = [this](const THandOverRequest& request) {
      std::lock_guard guard(Mutex);
      Received.push_back(request);
      return 1;
    };
  }
  std::vector<THandOverRequest> TakeReceived() {
    std::lock_guard guard(Mutex);
    return Received;
  }
  THandOverServer Server;
  std::mutex Mutex;
  std::vector<THandOverRequest> Received;
};

class BrowserHostProcessTest : public ::testing::Test {
 protected:
  std::string Profile() const { return home_.File("profile"); }

  void StartInstance() {
    instance_ = &thread_.Make<TestInstance>();
    ASSERT_EQ(lock_.Acquire(), TInstanceLock::TResult::Acquired);
    bool listening = false;
    thread_.Call([&] { listening = instance_->Server.Listen(lock_); });
    ASSERT_TRUE(listening);
  }

  void WriteSetting(const std::string& key, bool value) {
    RegistryHiveFile hive;
    hive.Load(Profile() + "/registry.reg");
    SetRegistry(&hive);
    WriteBool(kOptionsSection, key, value);
    SetRegistry(nullptr);
  }

  // Runs program with input on its stdin, in the test's profile and a home
  // of its own, and collects what it writes. (It has no use for the
  // arguments a browser passes.)
  HostRun Run(const std::string& input, const std::string& program = kHost) {
    test::TempDir logs;
    test::CliProcess host(program, Profile(), logs.Path());
    const std::string home = home_.File("home");
    test::ScopedEnvironment env({{"BRINDLE_HOME", Profile()}, {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}});
    const test::CliOutcome outcome = host.Run({.Stdin = input});
    HostRun run{outcome.Status, {}, "", outcome.Err};
    run.Answers = Unframe(outcome.Out, run.Rest);
    return run;
  }

  test::TempDir runtime_, home_;
  test::ScopedEnvironment env_{{{"XDG_RUNTIME_DIR", runtime_.Path()}}};
  test::LoopThread thread_;
  TInstanceLock lock_{home_.File("profile")};
  TestInstance* instance_ = nullptr;
};

TEST_F(BrowserHostProcessTest, ReadsTheSettingsOfTheProfile) {
  StartInstance();
  const std::string zip = Frame(R"({"type":"download","url":"https://h.test/a.zip","browser":"firefox"})");
  EXPECT_EQ(Run(zip).Answers.at(0).rfind(R"({"taken":false)", 0), 0u) << "Firefox is off by default";
  WriteSetting("IntegrateWithNetscape", true);
  EXPECT_EQ(Run(zip).Answers.at(0), R"({"taken":true})");
  EXPECT_EQ(instance_->TakeReceived().size(), 1u);
}

// Which input is malformed is the host's own test; here what the process does.
TEST_F(BrowserHostProcessTest, MalformedInputEndsTheHostWithNothingAdded) {
  StartInstance();
  const HostRun run = Run(Frame(R"({"type":"download","url":"https://h.test/a.zip","browser":"chromium"})").substr(0, 20));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err.rfind("brindle-host: ", 0), 0u) << run.Err;
  EXPECT_TRUE(run.Answers.empty());
  EXPECT_TRUE(instance_->TakeReceived().empty());
}

TEST_F(BrowserHostProcessTest, StartsTheDesktopProgramWithItsOutputKeptOffTheBrowsersPipe) {
  // A copy of the host with a stand-in for the desktop program beside it,
  // which writes to its standard streams, leaves a mark and never opens a
  // channel: the host waits its five seconds and leaves the download to
  // the browser.
  const std::string bin = home_.File("bin");
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(kHost, bin + "/brindle-host");
  const std::string mark = home_.File("started");
  test::WriteWholeFile(bin + "/brindle", "#!/bin/sh\necho garbage\necho more >&2\ntouch '" + mark + "'\n");
  ASSERT_EQ(chmod((bin + "/brindle").c_str(), 0755), 0);
  const HostRun run =
      Run(Frame(R"({"type":"download","url":"https://h.test/a.zip","browser":"chromium"})"), bin + "/brindle-host");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Rest, "");
  ASSERT_EQ(run.Answers.size(), 1u);
  EXPECT_EQ(run.Answers[0].rfind(R"({"taken":false)", 0), 0u) << run.Answers[0];
  EXPECT_EQ(run.Err, "");
  EXPECT_TRUE(test::FileExists(mark));
}

// The whole way with a real instance: brindle-cli runs a download, the host
// hands it a browser's download, and the file arrives under the name the
// browser proposed, fetched with the browser's cookies and referrer, which
// go to the download's own origin only, not to the server it redirects to.
TEST_F(BrowserHostProcessTest, ATakenDownloadArrivesWithItsNameCookiesAndReferrer) {
  const std::string content = test::MakeContent(300 * 1024 + 7);
  test::FaultHttpServer* origin = &thread_.Make<test::FaultHttpServer>();
  test::FaultHttpServer* elsewhere = &thread_.Make<test::FaultHttpServer>();
  thread_.Call([&] {
    origin->AddFile("/hold.bin", content);
    origin->AddFile("/direct.bin", content);
    origin->SetHandler([origin, elsewhere](const test::HttpRequest& request) {
      if (request.Target == "/moved") return test::RedirectReply(302, elsewhere->Url("/moved.bin"));
      test::HttpReply reply = origin->Serve(request);
      if (request.Target == "/hold.bin") reply.StallAt = {1000};
      return reply;
    });
    elsewhere->AddFile("/moved.bin", content);
  });
  test::TempDir downloads, logs;
  test::CliProcess cli(test::kCli, Profile(), logs.Path());
  cli.Start({.Args = {"-q", "-d", downloads.Path(), origin->Url("/hold.bin")},
             .Env = {"XDG_DOWNLOAD_DIR=" + downloads.Path()}});
  // The instance holds the lock once its first download has begun.
  test::WaitFor([&] {
    bool asked = false;
    thread_.Call([&] { asked = !origin->Requests().empty(); });
    return asked;
  });
  const auto ask = [](const std::string& url, const std::string& name) {
    return Frame(R"({"type":"download","url":")" + url + R"(","browser":"chromium","filename":")" + name +
                 R"(","referrer":"http://page.test/list","cookies":"sid=abc; theme=dark"})");
  };
  const HostRun run = Run(ask(origin->Url("/direct.bin"), "Proposed Name.zip") + ask(origin->Url("/moved"), "Moved.zip"));
  ASSERT_EQ(run.Answers.size(), 2u) << run.Err;
  EXPECT_EQ(run.Answers[0], R"({"taken":true})");
  EXPECT_EQ(run.Answers[1], R"({"taken":true})");

  thread_.Call([&] { origin->Release(); });
  const test::Outcome outcome = cli.Wait();
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(downloads.File("Proposed Name.zip")) == content);
  EXPECT_TRUE(test::ReadWholeFile(downloads.File("Moved.zip")) == content);

  std::vector<test::HttpRequest> atOrigin, atElsewhere;
  thread_.Call([&] {
    atOrigin = origin->Requests();
    atElsewhere = elsewhere->Requests();
  });
  int direct = 0;
  for (const test::HttpRequest& request : atOrigin) {
    const bool handed = request.Target == "/direct.bin" || request.Target == "/moved";
    direct += request.Target == "/direct.bin";
    EXPECT_EQ(request.Header("Cookie").value_or(""), handed ? "sid=abc; theme=dark" : "") << request.Raw;
    EXPECT_EQ(request.Header("Referer").value_or(""), handed ? "http://page.test/list" : "") << request.Raw;
  }
  EXPECT_GE(direct, 1);
  ASSERT_FALSE(atElsewhere.empty());
  for (const test::HttpRequest& request : atElsewhere) {
    EXPECT_FALSE(request.Header("Cookie")) << request.Raw;
    EXPECT_FALSE(request.Header("Referer")) << request.Raw;
  }

  // Once done, no record keeps the cookies or the referrer: they served the
  // transfer only. Each record stays a file only its owner may read.
  int records = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Profile() + "/Partial Downloads")) {
    if (entry.path().extension() != ".dat") continue;
    ++records;
    const std::string record = test::ReadWholeFile(entry.path().string());
    EXPECT_EQ(record.find("sid=abc"), std::string::npos) << record;
    EXPECT_EQ(record.find("page.test"), std::string::npos) << record;
    struct stat info;
    ASSERT_EQ(stat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(records, 3);
}

}  // namespace
}  // namespace brindle
