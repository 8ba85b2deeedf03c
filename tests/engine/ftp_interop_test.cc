#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/event_loop.h"
#include "core/settings.h"
#include "engine/ftp_part_downloader.h"
#include "support/fault_http_server.h"
#include "support/loopback_port.h"
#include "support/part_downloader_test.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr const char* kPython = "/usr/bin/python3";

struct InteropCase {
  const char* name;
  bool vsftpd;  // else pyftpdlib
  bool passive;
  bool withoutSize = false;  // pyftpdlib: SIZE is an unknown command
};

// A real FTP server in its own process group on free loopback ports, serving
// an anonymous read-only root in a fresh directory.
class FtpInteropTest : public test::PartDownloaderTest, public ::testing::WithParamInterface<InteropCase> {
 protected:
  void SetUp() override {
    const bool vsftpd = GetParam().vsftpd;
    if (vsftpd && access(kVsftpd, X_OK) != 0) GTEST_SKIP() << kVsftpd << " is not installed";
    if (!vsftpd && std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0)
      GTEST_SKIP() << "python3-pyftpdlib is not installed";
    WriteBool(kOptionsSection, "UseFTPProxy", false);
    WriteBool(kOptionsSection, "PassiveMode", GetParam().passive);

    // The server's session user reads the tree; it must not be able to write
    // its root (vsftpd refuses a writable chroot).
    const std::string& dir = dir_.Path();
    chmod(dir.c_str(), 0755);
    root_ = dir + "/root";
    mkdir(root_.c_str(), 0755);
    mkdir((root_ + "/pub").c_str(), 0755);
    mkdir((dir + "/empty").c_str(), 0755);
    content_ = test::MakeContent(2 * 1024 * 1024 + 4099);
    test::WriteWholeFile(root_ + "/pub/file.bin", content_);
    chmod((root_ + "/pub/file.bin").c_str(), 0644);

    // A port taken between choosing and binding it ends the server: start
    // again on others.
    for (int attempt = 0; attempt < 3; ++attempt) {
      StopServer();
      StartServer(vsftpd);
      if (pid_ > 0 && test::WaitUntilLoopbackAccepts(port_, pid_)) return;
    }
    FAIL() << "the FTP server did not start: " << test::ReadWholeFile(dir + "/vsftpd.log");
  }

  void StartServer(bool vsftpd) {
    const std::string& dir = dir_.Path();
    port_ = test::FreeLoopbackPort();
    const int pasvMin = test::FreeLoopbackPort();
    const std::string pasvMax = std::to_string(std::min(pasvMin + 40, 65535));
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      if (vsftpd) {
        const std::string conf = dir + "/vsftpd.conf";
        test::WriteWholeFile(conf, "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" +
                                       std::to_string(port_) + "\nbackground=NO\nanonymous_enable=YES\n"
                                       "local_enable=NO\nwrite_enable=NO\nno_anon_password=YES\nanon_root=" +
                                       root_ + "\nsecure_chroot_dir=" + dir + "/empty\nseccomp_sandbox=NO\n"
                                       "connect_from_port_20=NO\npasv_enable=YES\npasv_address=127.0.0.1\n"
                                       "pasv_min_port=" + std::to_string(pasvMin) + "\npasv_max_port=" + pasvMax +
                                       "\nvsftpd_log_file=" + dir + "/vsftpd.log\nxferlog_enable=YES\nxferlog_file=" +
                                       dir + "/xferlog\n");
        execl(kVsftpd, kVsftpd, conf.c_str(), static_cast<char*>(nullptr));
      } else {
        const std::string script =
            "import logging, sys\n"
            "from pyftpdlib.authorizers import DummyAuthorizer\n"
            "from pyftpdlib.handlers import FTPHandler\n"
            "from pyftpdlib.servers import FTPServer\n"
            "logging.basicConfig(level=logging.ERROR)\n"
            "a = DummyAuthorizer()\na.add_anonymous(sys.argv[1])\n"
            "FTPHandler.authorizer = a\n"
            "FTPHandler.passive_ports = range(int(sys.argv[3]), int(sys.argv[4]) + 1)\n"
            "if sys.argv[5] == '1':\n"
            "    FTPHandler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != 'SIZE'}\n"
            "FTPServer(('127.0.0.1', int(sys.argv[2])), FTPHandler).serve_forever()\n";
        execl(kPython, kPython, "-c", script.c_str(), root_.c_str(), std::to_string(port_).c_str(),
              std::to_string(pasvMin).c_str(), pasvMax.c_str(), GetParam().withoutSize ? "1" : "0",
              static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    if (pid_ > 0) setpgid(pid_, pid_);  // so that a stop right away reaches its group too
  }

  void StopServer() {
    if (pid_ > 0) {
      kill(-pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  void TearDown() override { StopServer(); }

  std::unique_ptr<TFTPPartDownloader> Make(const std::string& path, int64_t start, int64_t end) {
    return std::make_unique<TFTPPartDownloader>("ftp://127.0.0.1:" + std::to_string(port_) + path,
                                                dir_.File("download." + std::to_string(start)), start, end, &loop_);
  }
  static bool Final(const TPartDownloader& part) { return test::Final(part.State()); }

  std::string root_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

TEST_P(FtpInteropTest, TwoPartsOneResumedMakeTheFile) {
  const int64_t half = static_cast<int64_t>(content_.size()) / 2;
  auto first = Make("/pub/file.bin", 0, half - 1);
  auto second = Make("/pub/file.bin", half, 0);  // open-ended, resumed after the bytes it holds
  test::WriteWholeFile(second->FileName(), content_.substr(half, 54321));
  first->Get();
  second->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*first) && Final(*second); }, 60000));
  ASSERT_EQ(first->State(), psDone) << first->ErrorStatus().Text();
  ASSERT_EQ(second->State(), psDone) << second->ErrorStatus().Text();
  EXPECT_EQ(second->Offset(), 54321);
  // Without SIZE the open-ended part is whole by the server's final reply.
  EXPECT_EQ(second->TransferSize(), GetParam().withoutSize ? -1 : static_cast<int64_t>(content_.size()));
  EXPECT_EQ(second->ResumeText(), "Yes");
  EXPECT_TRUE(test::ReadWholeFile(first->FileName()) + test::ReadWholeFile(second->FileName()) == content_);

  // The finished first part takes another range on its logged-in connection.
  first->SetStartByte(half - 1000);
  first->SetEndByte(half + 999);
  first->SetFileName(dir_.File("again." + std::to_string(half - 1000)));
  first->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*first); }, 60000));
  ASSERT_EQ(first->State(), psDone) << first->ErrorStatus().Text();
  EXPECT_TRUE(test::ReadWholeFile(first->FileName()) == content_.substr(half - 1000, 2000));

  auto missing = Make("/pub/missing.bin", 0, 0);
  missing->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*missing); }, 60000));
  EXPECT_EQ(missing->ErrorCode(), 4);
  EXPECT_EQ(missing->ErrorStatus().Text(), "File not found");
}

INSTANTIATE_TEST_SUITE_P(All, FtpInteropTest,
                         ::testing::Values(InteropCase{"VsftpdPassive", true, true},
                                           InteropCase{"VsftpdActive", true, false},
                                           InteropCase{"PyftpdlibPassive", false, true},
                                           InteropCase{"PyftpdlibActive", false, false},
                                           InteropCase{"PyftpdlibWithoutSize", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brindle
