#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/event_loop.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_request.h"
#include "platform/hand_over_socket.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::HttpReply;
using test::HttpRequest;

const std::string kCli = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle-cli";

std::string MakeContent(size_t size) {
  std::string content(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : content) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return content;
}

// The server runs on a loop of its own thread, since the program under test
// is a real process.
class ServerThread {
 public:
  explicit ServerThread(std::string content) : content_(std::move(content)) {
    std::mutex m;
    std::unique_lock lock(m);
    std::condition_variable ready;
    thread_ = std::thread([&] {
      EventLoop loop;
      test::FaultHttpServer server(loop);
      server.AddFile("/f.bin", content_);
      server.AddFile("/g.bin", content_.substr(1000));
      server.SetHandler([this, &server](const HttpRequest& r) {
        std::lock_guard guard(mutex_);
        requests_.push_back(r);
        HttpReply reply = server.Serve(r);
        if (stallAt_ >= 0) reply.StallAt = {stallAt_};
        return reply;
      });
      {
        std::lock_guard guard(m);
        loop_ = &loop;
        server_ = &server;
        port_ = server.Port();
      }
      ready.notify_one();
      loop.Run();
    });
    ready.wait(lock, [this] { return loop_ != nullptr; });
  }
  ~ServerThread() {
    loop_->Quit();
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  void StallAt(int64_t offset) {
    std::lock_guard guard(mutex_);
    stallAt_ = offset;
  }
  // Lets stalled answers go on.
  void Release() {
    loop_->Post([this] { server_->Release(); });
  }
  std::vector<HttpRequest> TakeRequests() {
    std::lock_guard guard(mutex_);
    return std::exchange(requests_, {});
  }

 private:
  std::string content_;
  std::thread thread_;
  EventLoop* loop_ = nullptr;
  test::FaultHttpServer* server_ = nullptr;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  int64_t stallAt_ = -1;
};

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CliITest : public ::testing::Test {
 protected:
  pid_t Start(const std::vector<std::string>& args) {
    std::vector<std::string> all{kCli, "--home", home_.Path()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(dir_.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(dir_.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kCli.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }
  // A bounded wait: the process is killed after limitMs.
  Outcome Wait(pid_t pid, int limitMs = 20000) {
    Outcome outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "brindle-cli did not end in time";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = test::ReadWholeFile(dir_.File("stdout"));
    outcome.err = test::ReadWholeFile(dir_.File("stderr"));
    return outcome;
  }
  Outcome Cli(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // Start byte and size of every part file in the profile.
  std::vector<std::pair<int64_t, int64_t>> PartFiles() const {
    std::vector<std::pair<int64_t, int64_t>> parts;
    const std::filesystem::path dir = home_.File("Partial Downloads");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      const std::string ext = entry.path().extension().string();
      if (ext.size() < 2 || ext.find_first_not_of("0123456789", 1) != std::string::npos) continue;
      parts.emplace_back(std::stoll(ext.substr(1)), static_cast<int64_t>(entry.file_size()));
    }
    return parts;
  }

  test::TempDir home_;
  test::TempDir dir_;
  test::TempDir out_;
  const std::string content_ = MakeContent(2 * 1024 * 1024 + 123);
};

TEST_F(CliITest, FourPartDownloadIsByteIdentical) {
  ServerThread server(content_);
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), server.Url("/f.bin")});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Done " + out_.File("f.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  int ranged = 0;
  for (const HttpRequest& r : server.TakeRequests())
    if (r.Range() && r.Range()->first > 0) ++ranged;
  EXPECT_GE(ranged, 3);
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(CliITest, InterruptedDownloadResumesWithoutFetchingDoneBytesAgain) {
  ServerThread server(content_);
  server.StallAt(100000);
  const pid_t pid = Start({"-s", "4", "-d", out_.Path(), server.Url("/f.bin")});
  // Bounded wait until all four parts hold their first bytes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto parts = PartFiles();
    if (parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](auto& p) { return p.second == 100000; }))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGINT);
  const Outcome interrupted = Wait(pid);
  ASSERT_EQ(interrupted.status, 130) << interrupted.err;
  EXPECT_FALSE(test::FileExists(out_.File("f.bin")));
  const auto done = PartFiles();
  ASSERT_EQ(done.size(), 4u);
  server.TakeRequests();

  server.StallAt(-1);
  const Outcome resumed = Cli({"-q", "-d", out_.Path(), server.Url("/f.bin")});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out, "Done " + out_.File("f.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  const auto requests = server.TakeRequests();
  ASSERT_FALSE(requests.empty());
  for (const HttpRequest& r : requests) {
    ASSERT_TRUE(r.Range()) << r.Raw;
    for (const auto& [start, size] : done)
      EXPECT_FALSE(r.Range()->first >= start && r.Range()->first < start + size) << r.Raw;
  }
}

TEST_F(CliITest, NotFoundEndsWithStatusOneAndTheStatusText) {
  ServerThread server(content_);
  const Outcome outcome = Cli({"--retries", "0", "-d", out_.Path(), server.Url("/missing.bin")});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("File not found"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

TEST_F(CliITest, BadUsageAndUnsupportedAddressesExitWithTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no URL"},
      {{"--bogus", "http://127.0.0.1:9/a"}, "unknown option"},
      {{"-s", "0", "http://127.0.0.1:9/a"}, "bad value"},
      {{"-o", "x", "http://127.0.0.1:9/a", "http://127.0.0.1:9/b"}, "one URL"},
      {{"gopher://127.0.0.1:9/a"}, "unsupported address"},
      {{"mailto:someone@example.org"}, "unsupported address"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome outcome = Cli(args);
    EXPECT_EQ(outcome.status, 2) << message;
    EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
  }
  EXPECT_FALSE(test::FileExists(home_.File("Partial Downloads")));
}

TEST_F(CliITest, SecondStartHandsItsUrlToTheRunningOne) {
  ServerThread server(content_);
  server.StallAt(100000);
  const pid_t first = Start({"-q", "-d", out_.Path(), server.Url("/f.bin")});
  // The first one holds the lock once its download has begun.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (PartFiles().empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  // Anything but an http or ftp address is taken and ignored.
  EXPECT_EQ(HandOver(HandOverSocketPath(home_.Path()), THandOverRequest::PlainText("mailto:a@b.org"), 5000), 1);

  test::TempDir other;
  std::vector<std::string> argv{kCli, "--home", home_.Path(), "-d", other.Path(), server.Url("/g.bin")};
  const pid_t second = fork();
  if (second == 0) {
    const int out = open(dir_.File("second").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(kCli.c_str(), args.data());
    _exit(127);
  }
  int status = -1;
  waitpid(second, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(test::ReadWholeFile(dir_.File("second")), "Handed over to the running Brindle\n");

  server.StallAt(-1);
  server.Release();
  const Outcome outcome = Wait(first);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Done " + other.File("g.bin")), std::string::npos) << outcome.out;
  EXPECT_TRUE(test::ReadWholeFile(other.File("g.bin")) == content_.substr(1000));
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  EXPECT_EQ(outcome.out.find("mailto"), std::string::npos);
  EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 2);
}

TEST_F(CliITest, OneJobRunsTheDownloadsOneAfterTheOther) {
  ServerThread server(content_);
  const Outcome outcome = Cli({"-q", "-j", "1", "-d", out_.Path(), server.Url("/f.bin"), server.Url("/g.bin")});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
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

TEST_F(CliITest, FtpDownloadIsByteIdentical) {
  std::mutex m;
  std::condition_variable ready;
  EventLoop* loop = nullptr;
  std::string url;
  std::thread thread([&] {
    EventLoop serverLoop;
    test::FaultFtpServer server(serverLoop);
    server.AddFile("/pub/f.bin", content_);
    {
      std::lock_guard guard(m);
      loop = &serverLoop;
      url = server.Url("/pub/f.bin");
    }
    ready.notify_one();
    serverLoop.Run();
  });
  {
    std::unique_lock lock(m);
    ready.wait(lock, [&] { return loop != nullptr; });
  }
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), url});
  loop->Quit();
  thread.join();
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
}

TEST_F(CliITest, HelpAndVersionSucceed) {
  EXPECT_EQ(Cli({"--help"}).status, 0);
  const Outcome version = Cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("brindle-cli ", 0), 0u);
}

}  // namespace
}  // namespace brindle
