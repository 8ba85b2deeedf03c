#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/connect_proxy.h"
#include "support/loop_thread.h"
#include "support/loopback_port.h"
#include "support/nginx_server.h"
#include "support/test_certificates.h"

namespace brindle {
namespace {

using test::Outcome;

// Debian's nginx with TLS on free loopback ports, one server per
// certificate, and on its own port plain http redirecting to the first;
// brindle-cli trusts only the test authority.
class HttpsInteropTest : public test::CliProcessTest {
 protected:
  void SetUp() override {
    if (!test::NginxServer::Installed()) GTEST_SKIP() << test::NginxServer::kProgram << " is not installed";
    const std::string www = root_.File("www");
    // A port taken between choosing and binding it ends nginx: start again on others.
    const auto start = [&] {
      ports_.clear();
      std::string servers;
      for (const std::string& certificate : {certs_.Good, certs_.Expired, certs_.WrongName, certs_.SelfSigned}) {
        ports_.push_back(test::FreeLoopbackPort());
        servers += "  server {\n    listen 127.0.0.1:" + std::to_string(ports_.back()) + " ssl;\n    ssl_certificate " +
                   certificate + ";\n    ssl_certificate_key " + certs_.Key + ";\n    root " + www +
                   ";\n    location /slow/ { alias " + www + "/; limit_rate 1m; }\n  }\n";
      }
      nginx_.reset();
      nginx_.emplace(root_.Path(), "    return 301 " + Secure(0, "") + "$request_uri;\n", servers);
      if (!nginx_->Start()) return false;
      for (uint16_t port : ports_)
        if (!nginx_->Accepts(port)) return false;
      return true;
    };
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) started = start();
    ASSERT_TRUE(started) << nginx_->Error();
    nginx_->AddFile("/file.bin", content_);
  }

  std::string Secure(int server, const std::string& path = "/file.bin") const {
    return "https://localhost:" + std::to_string(ports_[server]) + path;
  }
  // The ranges asked of a server, as nginx logged them.
  std::vector<std::string> Ranges(int server) const {
    std::vector<std::string> ranges;
    for (const test::NginxLogLine& line : nginx_->AccessLog())
      if (line.Port == ports_[server]) ranges.push_back(line.Range);
    return ranges;
  }

  const test::TestCertificates& certs_ = test::SharedTestCertificates();
  test::TrustTestAuthority trust_{certs_};
  test::TempDir root_;
  std::optional<test::NginxServer> nginx_;
  std::vector<uint16_t> ports_;  // good, expired, wrong name, self-signed
  const std::string content_ = test::MakeContent(6 * 1024 * 1024 + 17);
};

// Capped per connection, so that no part reaches its end before the others
// have started and takes their ranges over.
TEST_F(HttpsInteropTest, FourPartDownloadInterruptedAndResumedIsByteIdentical) {
  Start({"-q", "-s", "4", "-d", out_.Path(), Secure(0, "/slow/file.bin")});
  ASSERT_TRUE(WaitForParts(4, 1));
  Kill(SIGINT);
  ASSERT_EQ(Wait().Status, 130);
  EXPECT_FALSE(test::FileExists(out_.File("file.bin")));

  const Outcome resumed = Cli({"-q", "-d", out_.Path(), Secure(0, "/slow/file.bin")});
  ASSERT_EQ(resumed.Status, 0) << resumed.Err;
  EXPECT_EQ(resumed.Out, "Done " + out_.File("file.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(HttpsInteropTest, HttpRedirectingToHttpsIsFollowed) {
  const Outcome outcome = Cli({"-q", "-d", out_.Path(), nginx_->Url("/file.bin")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  EXPECT_FALSE(Ranges(0).empty());
}

// Default retry settings: a certificate is not retried, so the run ends at once.
TEST_F(HttpsInteropTest, EachBadCertificateFailsWithoutAFile) {
  const std::pair<int, std::string> cases[] = {
      {1, "certificate has expired"}, {2, "hostname mismatch"}, {3, "self-signed certificate"}};
  for (const auto& [server, reason] : cases) {
    const Outcome outcome = Cli({"-d", out_.Path(), Secure(server)});
    EXPECT_EQ(outcome.Status, 1) << reason;
    EXPECT_NE(outcome.Err.find(": Certificate not trusted: " + reason + " (" + Secure(server) + ")"), std::string::npos)
        << outcome.Err;
    EXPECT_TRUE(std::filesystem::is_empty(out_.Path())) << reason;
    EXPECT_TRUE(Ranges(server).empty());
  }
}

// The proxy runs on a loop of its own thread, since brindle-cli is a real process.
TEST_F(HttpsInteropTest, DownloadThroughAConnectTunnel) {
  test::LoopThread thread;
  test::ConnectProxy& proxy = thread.Make<test::ConnectProxy>();
  test::WriteWholeFile(home_.File("registry.reg"),
                       "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brindle\\Options]\n"
                       "\"UseHTTPProxy\"=dword:00000001\n\"HTTPProxyAddress\"=\"127.0.0.1\"\n\"HTTPProxyPort\"=\"" +
                           std::to_string(proxy.Port()) + "\"\n\n");
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), Secure(0)});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("file.bin")) == content_);
  std::vector<test::HttpRequest> connects;
  thread.Call([&] { connects = proxy.Requests(); });
  ASSERT_FALSE(connects.empty());
  for (const test::HttpRequest& connect : connects)
    EXPECT_EQ(connect.Lines()[0], "CONNECT localhost:" + std::to_string(ports_[0]) + " HTTP/1.1");
  EXPECT_FALSE(Ranges(0).empty());
}

}  // namespace
}  // namespace brindle
