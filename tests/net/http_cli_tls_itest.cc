#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "net/http_cli.h"
#include "net/socket_errors.h"
#include "net/wsocket.h"
#include "support/connect_proxy.h"
#include "support/fault_http_server.h"
#include "support/test_certificates.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::FaultHttpServer;
using test::HttpRequest;

class HttpCliTlsTest : public ::testing::Test {
 protected:
  HttpCliTlsTest() {
    tls.EnableTls(certs_.Good, certs_.Key);
    tls.AddFile("/f.bin", content);
    plain.AddFile("/f.bin", content);
    cli->RcvdStream = &body;
    cli->OnRequestDone = [this](THttpRequest, int error) {
      ++doneCount;
      doneError = error;
    };
  }

  void Get(const std::string& url) {
    body.Data.clear();
    cli->URL = url;
    const int before = doneCount;
    cli->GetASync();
    ASSERT_TRUE(test::RunUntil(loop, [&] { return doneCount > before; }));
  }

  const test::TestCertificates& certs_ = test::SharedTestCertificates();
  test::TrustTestAuthority trust{certs_};
  EventLoop loop;
  const std::string content = test::MakeContent(3 * 1024 * 1024 + 7);
  FaultHttpServer tls{loop};
  FaultHttpServer plain{loop};
  TMemoryReceiveStream body;
  std::unique_ptr<THttpCli> cli = std::make_unique<THttpCli>(&loop);
  int doneCount = 0;
  int doneError = -1;
};

// Each certificate that does not verify ends the request before anything is
// sent, with OpenSSL's reason; a server without TLS is another failure.
TEST_F(HttpCliTlsTest, CertificatesThatDoNotVerifyAreRefused) {
  struct Case {
    std::string certificate;
    std::string host;
    std::string reason;
  };
  const Case cases[] = {
      {certs_.Expired, "localhost", "certificate has expired"},
      {certs_.WrongName, "localhost", "hostname mismatch"},
      {certs_.CommonNameOnly, "localhost", "hostname mismatch"},  // as browsers do: the CN is never read
      {certs_.Good, "[::1]", ""},  // no such address in the certificate (or no IPv6 at all)
      {certs_.SelfSigned, "127.0.0.1", "self-signed certificate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate + " " + c.host);
    FaultHttpServer server(loop);
    server.EnableTls(c.certificate, certs_.Key);
    server.AddFile("/f.bin", content);
    Get("https://" + c.host + ":" + std::to_string(server.Port()) + "/f.bin");
    if (c.reason.empty()) {
      EXPECT_NE(doneError, 0);
      continue;
    }
    EXPECT_EQ(doneError, kSocketErrCertificate);
    EXPECT_EQ(cli->TlsErrorText(), c.reason);
    EXPECT_EQ(cli->ReasonPhrase(), "Certificate not trusted: " + c.reason);
    EXPECT_EQ(cli->StatusCode(), 404);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(body.Data, "");
  }
  // A server that answers in plain HTTP at once.
  TWSocket listener(&loop);
  listener.LocalAddr = "127.0.0.1";
  listener.Port = "0";
  listener.Listen();
  listener.OnSessionAvailable = [&](int) {
    const int fd = listener.Accept();
    const std::string answer = "HTTP/1.0 200 OK\r\n\r\nplain";
    EXPECT_EQ(send(fd, answer.data(), answer.size(), MSG_NOSIGNAL), static_cast<ssize_t>(answer.size()));
    close(fd);
  };
  std::string address;
  int port = 0;
  ASSERT_EQ(listener.GetSockName(address, port), 0);
  Get("https://127.0.0.1:" + std::to_string(port) + "/f.bin");
  EXPECT_EQ(doneError, kSocketErrTls);
  EXPECT_FALSE(cli->TlsErrorText().empty());
}

// Without close_notify a body is whole only when its length or its last
// chunk said so: a body that ends with the connection is cut.
TEST_F(HttpCliTlsTest, CloseWithoutCloseNotify) {
  struct Case {
    const char* name;
    test::FileReplyOptions options;
    int64_t closeAfter;  // -1: all of it is sent
    int error;
    bool closeNotify = false;  // TLS is ended properly after all of it
  };
  const Case cases[] = {
      {"LengthCut", {}, 100000, kHttpErrIncomplete},
      {"NoLengthCut", {.NoLength = true}, 100000, kHttpErrIncomplete},
      {"NoLengthAllSent", {.NoLength = true}, -1, kHttpErrIncomplete},
      {"NoLengthEndedProperly", {.NoLength = true}, -1, 0, true},
      {"ChunkedCut", {.ChunkSize = 65536}, 100000, kHttpErrIncomplete},
      {"ChunkedAllSent", {.ChunkSize = 65536}, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tls.Script([&](const HttpRequest& r) {
      test::HttpReply reply = test::FileReply(r, content, c.options);
      reply.CloseAfter = c.closeAfter;
      reply.SkipCloseNotify = !c.closeNotify;
      return reply;
    });
    Get(tls.Url("/f.bin"));
    EXPECT_EQ(doneError, c.error);
    // What arrived is handed on, decoded: the file, or a part of it.
    EXPECT_EQ(body.Data.size() == content.size(), c.closeAfter < 0);
    EXPECT_TRUE(body.Data == content.substr(0, body.Data.size()));
  }
}

TEST_F(HttpCliTlsTest, RedirectionsToHttpsAreFollowedButNeverBackToHttp) {
  const std::string secure = "https://localhost:" + std::to_string(tls.Port());
  plain.Script([&](const HttpRequest&) { return test::RedirectReply(301, secure + "/moved"); });
  tls.Script([&](const HttpRequest&) { return test::RedirectReply(302, "/f.bin"); });
  Get(plain.Url("/start"));
  EXPECT_EQ(doneError, 0) << cli->ReasonPhrase();
  EXPECT_EQ(cli->Location(), secure + "/f.bin");
  EXPECT_EQ(cli->RedirectCount(), 2);
  EXPECT_TRUE(body.Data == content);

  // A reference without a scheme stays on https.
  const std::string sameScheme = "//localhost:" + std::to_string(tls.Port()) + "/f.bin";
  tls.Script([&](const HttpRequest&) { return test::RedirectReply(302, sameScheme); });
  Get(tls.Url("/start"));
  EXPECT_EQ(doneError, 0) << cli->ReasonPhrase();
  EXPECT_EQ(cli->Location(), secure + "/f.bin");

  tls.Script([&](const HttpRequest&) { return test::RedirectReply(302, plain.Url("/f.bin")); });
  Get(tls.Url("/f.bin"));
  EXPECT_EQ(doneError, kHttpErrUnsupportedLocation);
  EXPECT_EQ(cli->ReasonPhrase(), "Redirection from https to http refused: " + plain.Url("/f.bin"));
  EXPECT_EQ(body.Data, "");
  EXPECT_EQ(plain.Requests().size(), 1u);
}

TEST_F(HttpCliTlsTest, ProxyTunnelCarriesTlsAndItsCredentialsOnly) {
  test::ConnectProxy proxy(loop);
  cli->Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
  cli->ProxyUsername = "pu";
  cli->ProxyPassword = "pp";
  Get("https://localhost:" + std::to_string(tls.Port()) + "/f.bin");
  EXPECT_EQ(doneError, 0) << cli->ReasonPhrase();
  EXPECT_TRUE(body.Data == content);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const HttpRequest& connect = proxy.Requests()[0];
  EXPECT_EQ(connect.Lines()[0], "CONNECT localhost:" + std::to_string(tls.Port()) + " HTTP/1.1");
  EXPECT_EQ(connect.Header("Proxy-Authorization"), "Basic cHU6cHA=");
  ASSERT_EQ(tls.Requests().size(), 1u);
  EXPECT_EQ(tls.Requests()[0].Lines()[0], "GET /f.bin HTTP/1.1");
  EXPECT_FALSE(tls.Requests()[0].Header("Proxy-Authorization"));

  proxy.Refuse("HTTP/1.0 407 Proxy Authentication Required\r\nContent-Length: 4\r\n\r\nnope");
  Get("https://localhost:" + std::to_string(tls.Port()) + "/f.bin");
  EXPECT_EQ(doneError, 0);
  EXPECT_EQ(cli->StatusCode(), 407);
  EXPECT_EQ(cli->ReasonPhrase(), "Proxy Authentication Required");
  EXPECT_EQ(tls.Requests().size(), 1u);
}

}  // namespace
}  // namespace brindle
