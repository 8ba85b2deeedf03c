#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/event_loop.h"
#include "support/connect_proxy.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace brindle {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
const std::string kCli = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle-cli";

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool Accepts(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// The CONNECT proxy on a loop of its own thread, since brindle-cli is a
// real process.
class ProxyThread {
 public:
  ProxyThread() {
    std::mutex m;
    std::condition_variable ready;
    std::unique_lock lock(m);
    thread_ = std::thread([&] {
      EventLoop loop;
      test::ConnectProxy proxy(loop);
      {
        std::lock_guard guard(m);
        loop_ = &loop;
        port_ = proxy.Port();
      }
      ready.notify_one();
      loop.Run();
      connects_ = proxy.Requests();
    });
    ready.wait(lock, [this] { return loop_ != nullptr; });
  }
  ~ProxyThread() { Stop(); }
  // The CONNECT requests it served; the proxy is gone afterwards.
  std::vector<test::HttpRequest> Stop() {
    if (thread_.joinable()) {
      loop_->Quit();
      thread_.join();
    }
    return connects_;
  }
  uint16_t Port() const { return port_; }

 private:
  std::thread thread_;
  EventLoop* loop_ = nullptr;
  uint16_t port_ = 0;
  std::vector<test::HttpRequest> connects_;
};

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Debian's nginx with TLS on free loopback ports, one server per
// certificate, and plain http on another port redirecting to https;
// brindle-cli trusts only the test authority.
class HttpsInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kNginx, X_OK) != 0) GTEST_SKIP() << kNginx << " is not installed";
    const std::string& root = root_.Path();
    chmod(root.c_str(), 0755);
    mkdir((root + "/www").c_str(), 0755);
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::WriteWholeFile(root + "/www/file.bin", content_);
    chmod((root + "/www/file.bin").c_str(), 0644);
    for (uint16_t& port : ports_) port = FreePort();
    const auto tls = [&](uint16_t port, const std::string& certificate) {
      return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " + certificate +
             ";\n    ssl_certificate_key " + certs_.Key + ";\n    root " + root + "/www;\n" +
             "    location /slow/ { alias " + root + "/www/; limit_rate 1m; }\n  }\n";
    };
    const std::string conf =
        "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + root + "/nginx.pid;\nerror_log " + root +
        "/error.log;\nevents { worker_connections 64; }\nhttp {\n  log_format ranges \"$server_port $http_range\";\n" +
        "  access_log " + root + "/access.log ranges;\n  default_type application/octet-stream;\n" +
        "  client_body_temp_path " + root + "/body;\n  proxy_temp_path " + root + "/proxy;\n" +
        "  fastcgi_temp_path " + root + "/fastcgi;\n  uwsgi_temp_path " + root + "/uwsgi;\n" +
        "  scgi_temp_path " + root + "/scgi;\n" + tls(ports_[0], certs_.Good) + tls(ports_[1], certs_.Expired) +
        tls(ports_[2], certs_.WrongName) + tls(ports_[3], certs_.SelfSigned) + "  server {\n    listen 127.0.0.1:" +
        std::to_string(ports_[4]) + ";\n    return 301 https://localhost:" + std::to_string(ports_[0]) +
        "$request_uri;\n  }\n}\n";
    test::WriteWholeFile(root + "/nginx.conf", conf);
    pid_ = fork();
    if (pid_ == 0) {
      execl(kNginx, kNginx, "-p", root.c_str(), "-c", (root + "/nginx.conf").c_str(), "-e",
            (root + "/error.log").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    // Waiting for a real server to come up, not timing anything under test.
    for (int i = 0; i < 200 && !(Accepts(ports_[0]) && Accepts(ports_[4])); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(Accepts(ports_[0]) && Accepts(ports_[4])) << test::ReadWholeFile(root + "/error.log");
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::string Secure(int server, const std::string& path = "/file.bin") const {
    return "https://localhost:" + std::to_string(ports_[server]) + path;
  }

  pid_t Start(const std::vector<std::string>& args) {
    std::vector<std::string> all{kCli, "--home", home_.Path()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(io_.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open(io_.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kCli.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }
  // A bounded wait: the process is killed after limitMs.
  Outcome Wait(pid_t pid, int limitMs = 30000) {
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
    outcome.out = test::ReadWholeFile(io_.File("stdout"));
    outcome.err = test::ReadWholeFile(io_.File("stderr"));
    return outcome;
  }
  Outcome Cli(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // Ranges nginx served on a port, from its access log.
  std::vector<std::string> Ranges(int server) const {
    std::vector<std::string> ranges;
    const std::string log = test::ReadWholeFile(root_.File("access.log"));
    const std::string prefix = std::to_string(ports_[server]) + " ";
    for (size_t pos = 0, end; (end = log.find('\n', pos)) != std::string::npos; pos = end + 1) {
      if (log.compare(pos, prefix.size(), prefix) == 0)
        ranges.push_back(log.substr(pos + prefix.size(), end - pos - prefix.size()));
    }
    return ranges;
  }
  size_t PartFiles() const {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(home_.File("Partial Downloads"), ec)) {
      // The record's temporary file may vanish between listing and sizing.
      std::error_code sizeError;
      if (entry.path().filename().string().find(".dat") == std::string::npos && entry.file_size(sizeError) > 0 &&
          !sizeError)
        ++count;
    }
    return count;
  }

  test::TempDir certDir_;
  test::TestCertificates certs_{certDir_.Path()};
  test::TrustTestAuthority trust_{certs_};
  test::TempDir root_;
  test::TempDir home_;
  test::TempDir io_;
  test::TempDir out_;
  std::string content_ = std::string(6 * 1024 * 1024 + 17, '\0');
  uint16_t ports_[5] = {};  // good, expired, wrong name, self-signed, http redirecting to good
  pid_t pid_ = -1;
};

// Capped per connection, so that no part reaches its end before the others
// have started and takes their ranges over.
TEST_F(HttpsInteropTest, FourPartDownloadIsByteIdentical) {
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), Secure(0, "/slow/file.bin")});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Done " + out_.File("file.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  const std::vector<std::string> ranges = Ranges(0);
  EXPECT_GE(std::count_if(ranges.begin(), ranges.end(), [](const std::string& r) { return r != "bytes=0-"; }), 3);
}

TEST_F(HttpsInteropTest, ResumedAfterInterruptIsByteIdentical) {
  const pid_t pid = Start({"-q", "-s", "4", "-d", out_.Path(), Secure(0, "/slow/file.bin")});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (PartFiles() < 4 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(PartFiles(), 4u);
  kill(pid, SIGINT);
  ASSERT_EQ(Wait(pid).status, 130);
  EXPECT_FALSE(test::FileExists(out_.File("file.bin")));

  const Outcome resumed = Cli({"-q", "-d", out_.Path(), Secure(0, "/slow/file.bin")});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  EXPECT_EQ(PartFiles(), 0u);
}

TEST_F(HttpsInteropTest, HttpRedirectingToHttpsIsFollowed) {
  const Outcome outcome = Cli({"-q", "-d", out_.Path(), "http://127.0.0.1:" + std::to_string(ports_[4]) + "/file.bin"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  EXPECT_FALSE(Ranges(0).empty());
}

// Default retry settings: a certificate is not retried, so the run ends at once.
TEST_F(HttpsInteropTest, EachBadCertificateFailsWithoutAFile) {
  const std::pair<int, std::string> cases[] = {
      {1, "certificate has expired"}, {2, "hostname mismatch"}, {3, "self-signed certificate"}};
  for (const auto& [server, reason] : cases) {
    const Outcome outcome = Cli({"-d", out_.Path(), Secure(server)});
    EXPECT_EQ(outcome.status, 1) << reason;
    EXPECT_NE(outcome.err.find(": Certificate not trusted: " + reason + " (" + Secure(server) + ")"), std::string::npos)
        << outcome.err;
    EXPECT_TRUE(std::filesystem::is_empty(out_.Path())) << reason;
    EXPECT_TRUE(Ranges(server).empty());
  }
}

TEST_F(HttpsInteropTest, DownloadThroughAConnectTunnel) {
  ProxyThread proxy;
  mkdir(home_.Path().c_str(), 0700);
  test::WriteWholeFile(home_.File("registry.reg"),
                       "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brindle\\Options]\n"
                       "\"UseHTTPProxy\"=dword:00000001\n\"HTTPProxyAddress\"=\"127.0.0.1\"\n\"HTTPProxyPort\"=\"" +
                           std::to_string(proxy.Port()) + "\"\n\n");
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), Secure(0)});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  const std::vector<test::HttpRequest> connects = proxy.Stop();
  ASSERT_FALSE(connects.empty());
  for (const test::HttpRequest& connect : connects)
    EXPECT_EQ(connect.Lines()[0], "CONNECT localhost:" + std::to_string(ports_[0]) + " HTTP/1.0");
  EXPECT_FALSE(Ranges(0).empty());
}

}  // namespace
}  // namespace brindle
