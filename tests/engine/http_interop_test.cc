#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/event_loop.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "engine/http_part_downloader.h"
#include "support/fault_http_server.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
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
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Debian's nginx in one foreground process on a free loopback port, with its
// configuration, logs, temporary files and document root in a fresh directory.
class NginxInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kNginx, X_OK) != 0) GTEST_SKIP() << kNginx << " is not installed";
    SetRegistry(&registry_);
    // Under root nginx may serve as nobody: everything it reads is world-readable.
    const std::string& root = dir_.Path();
    chmod(root.c_str(), 0755);
    mkdir((root + "/www").c_str(), 0755);
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::WriteWholeFile(root + "/www/file.bin", content_);
    chmod((root + "/www/file.bin").c_str(), 0644);
    port_ = FreePort();
    const std::string conf = "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + root +
                             "/nginx.pid;\nerror_log " + root + "/error.log;\nevents { worker_connections 64; }\n" +
                             "http {\n  access_log off;\n  default_type application/octet-stream;\n" +
                             "  client_body_temp_path " + root + "/body;\n  proxy_temp_path " + root + "/proxy;\n" +
                             "  fastcgi_temp_path " + root + "/fastcgi;\n  uwsgi_temp_path " + root + "/uwsgi;\n" +
                             "  scgi_temp_path " + root + "/scgi;\n  server {\n    listen 127.0.0.1:" +
                             std::to_string(port_) + ";\n    root " + root + "/www;\n" +
                             "    location = /moved { return 302 /file.bin; }\n  }\n}\n";
    test::WriteWholeFile(root + "/nginx.conf", conf);
    pid_ = fork();
    if (pid_ == 0) {
      execl(kNginx, kNginx, "-p", root.c_str(), "-c", (root + "/nginx.conf").c_str(), "-e",
            (root + "/error.log").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    // Waiting for a real server to come up, not timing anything under test.
    for (int i = 0; i < 200 && !Accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(Accepts(port_)) << test::ReadWholeFile(root + "/error.log");
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    SetRegistry(nullptr);
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  std::unique_ptr<THTTPPartDownloader> Make(const std::string& path, int64_t start, int64_t end) {
    return std::make_unique<THTTPPartDownloader>(Url(path), dir_.File("download"), start, end, &loop_);
  }

  static bool Final(const TPartDownloader& part) {
    return part.State() == psDone || part.State() == psError || part.State() == psAborted;
  }

  EventLoop loop_;
  MemoryRegistry registry_;
  test::TempDir dir_;
  std::string content_ = std::string(3 * 1024 * 1024 + 17, '\0');
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(NginxInteropTest, TwoPartsMakeTheFile) {
  const int64_t half = static_cast<int64_t>(content_.size()) / 2;
  auto first = Make("/file.bin", 0, half - 1);
  auto second = Make("/file.bin", half, 0);  // open-ended: to the end of the file
  first->Get();
  second->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*first) && Final(*second); }, 60000));
  ASSERT_EQ(first->State(), psDone) << first->ErrorText();
  ASSERT_EQ(second->State(), psDone) << second->ErrorText();
  EXPECT_NE(first->FileName(), second->FileName());
  EXPECT_EQ(test::ReadWholeFile(first->FileName()) + test::ReadWholeFile(second->FileName()), content_);
  // nginx answers an open-ended range with the whole file's size and its validators.
  EXPECT_EQ(second->TransferSize(), static_cast<int64_t>(content_.size()));
  EXPECT_EQ(second->ResumeText(), "Yes");
  EXPECT_FALSE(second->ETag().empty());
  EXPECT_FALSE(second->LastModified().empty());
  EXPECT_EQ(second->ETag(), first->ETag());
}

TEST_F(NginxInteropTest, RedirectionIsFollowedForNewAndResumedParts) {
  auto fresh = Make("/moved", 0, 0);
  fresh->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*fresh); }, 60000));
  ASSERT_EQ(fresh->State(), psDone) << fresh->ErrorText();
  EXPECT_EQ(test::ReadWholeFile(fresh->FileName()), content_);
  EXPECT_EQ(fresh->Url().Url, Url("/file.bin"));

  auto resumed = std::make_unique<THTTPPartDownloader>(Url("/moved"), dir_.File("resumed.2000000"), 2000000, 0, &loop_);
  test::WriteWholeFile(resumed->FileName(), content_.substr(2000000, 1000));
  resumed->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*resumed); }, 60000));
  ASSERT_EQ(resumed->State(), psDone) << resumed->ErrorText();
  EXPECT_EQ(test::ReadWholeFile(resumed->FileName()), content_.substr(2000000));
}

TEST_F(NginxInteropTest, MissingFileIsNotFound) {
  auto part = Make("/missing.bin", 0, 0);
  part->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*part); }, 60000));
  EXPECT_EQ(part->State(), psError);
  EXPECT_EQ(part->ErrorCode(), 4);
  EXPECT_EQ(part->ErrorText(), "File not found");
  EXPECT_EQ(test::ReadWholeFile(part->FileName()), "");
}

}  // namespace
}  // namespace brindle
