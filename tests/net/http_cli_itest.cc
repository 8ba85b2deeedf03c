#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <string>
#include <vector>

#include "net/http_cli.h"
#include "net/name_resolver.h"
#include "net/socket_errors.h"
#include "support/fault_http_server.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::FaultHttpServer;
using test::HttpReply;
using test::HttpRequest;
using test::RunUntil;

// These bytes as the whole answer; keepOpen: the server then waits for the
// client to close.
HttpReply Canned(const std::string& bytes, bool keepOpen = false) {
  HttpReply reply;
  reply.Head = bytes;
  if (keepOpen) reply.StallAt = {0};
  return reply;
}

// "%HOST%" stands for the server's "127.0.0.1:<port>".
std::string Expand(std::string text, const FaultHttpServer& server) {
  for (size_t p; (p = text.find("%HOST%")) != std::string::npos;) text.replace(p, 6, server.Url("").substr(7));
  return text;
}

class HttpCliTest : public ::testing::Test {
 protected:
  HttpCliTest() {
    cli->RcvdStream = &body;
    cli->OnRequestDone = [this](THttpRequest request, int error) {
      ++doneCount;
      doneError = error;
      doneRequest = request;
    };
  }
  // Every request gets these bytes.
  void AnswerAll(const std::string& bytes, bool keepOpen = false) {
    server.SetHandler([=](const HttpRequest&) { return Canned(bytes, keepOpen); });
  }
  void Script(const std::string& bytes, bool keepOpen = false) {
    server.Script([=](const HttpRequest&) { return Canned(bytes, keepOpen); });
  }
  void Get(const std::string& path) {
    cli->URL = server.Url(path);
    cli->GetASync();
    Wait();
  }
  void Wait() {
    int before = doneCount;
    ASSERT_TRUE(RunUntil(loop, [&] { return doneCount > before; }));
    loop.RunOnce(0);  // nothing more may follow the one OnRequestDone
  }
  std::string Request(size_t i) const { return i < server.Requests().size() ? server.Requests()[i].Raw : ""; }
  std::string RequestLine(size_t i) const { return Request(i).substr(0, Request(i).find("\r\n")); }

  EventLoop loop;
  FaultHttpServer server{loop};
  TMemoryReceiveStream body;
  std::unique_ptr<THttpCli> cli = std::make_unique<THttpCli>(&loop);
  int doneCount = 0;
  int doneError = -1;
  THttpRequest doneRequest = THttpRequest::httpGET;
};

struct WireCase {
  const char* name;
  std::function<void(THttpCli&, const std::string& base)> setup;
  std::string expected;  // head and body
  THttpRequest method = THttpRequest::httpGET;
};

class HttpCliWireTest : public HttpCliTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(HttpCliWireTest, SendsExactlyTheseBytes) {
  const WireCase& c = GetParam();
  // The server keeps the connection open: the answer ends at Content-Length,
  // a HEAD answer at its header.
  AnswerAll("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", true);
  const std::string form = "a=1&b=2";
  cli->SendStream = &form;
  cli->URL = server.Url("/dir/file.zip?x=1");
  c.setup(*cli, server.Url(""));
  if (c.method == THttpRequest::httpGET) cli->GetASync();
  if (c.method == THttpRequest::httpPOST) cli->PostASync();
  if (c.method == THttpRequest::httpHEAD) cli->HeadASync();
  Wait();
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Raw + server.Requests()[0].Body, Expand(c.expected, server));
  EXPECT_EQ(doneError, 0);
  EXPECT_EQ(doneRequest, c.method);
  EXPECT_EQ(body.Data, c.method == THttpRequest::httpHEAD ? "" : "ok");
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpCliWireTest,
    ::testing::Values(
        WireCase{"EveryOptionalLineInOrder",
                 [](THttpCli& c, auto&) {
                   c.Sender = "me@example.org"; c.Accept = "*/*"; c.Reference = "http://ref/"; c.Agent = "A";
                   c.NoCache = true; c.Username = "user"; c.Password = "pass"; c.Cookie = "k=v";
                   c.ContentRangeBegin = "100"; c.ContentRangeEnd = "199";
                 },
                 "GET /dir/file.zip?x=1 HTTP/1.1\r\nFrom: me@example.org\r\nAccept: */*\r\n"
                 "Referer: http://ref/\r\nUser-Agent: A\r\nHost: %HOST%\r\nConnection: close\r\nPragma: no-cache\r\n"
                 "Authorization: Basic dXNlcjpwYXNz\r\nCookie: k=v\r\nRange: bytes=100-199\r\n\r\n"},
        WireCase{"UserFromUrlReplacesUsername",
                 [](THttpCli& c, const std::string& base) {
                   c.URL = "http://an%40b:s%3Ae@" + base.substr(7) + "/f";
                   c.Username = "other";
                   c.Accept = c.Agent = "";
                 },
                 "GET /f HTTP/1.1\r\nHost: %HOST%\r\nConnection: close\r\nAuthorization: Basic YW5AYjpzOmU=\r\n\r\n"},
        WireCase{"ProxyFormWithProxyAuthorization",
                 [](THttpCli& c, const std::string& base) {
                   c.URL = "http://files.example:8080/a/b.bin"; c.Proxy = "127.0.0.1";
                   c.ProxyPort = base.substr(base.rfind(':') + 1); c.ProxyUsername = "pu"; c.ProxyPassword = "pp";
                   c.Accept = "*/*"; c.Agent = "Brindle"; c.ContentRangeBegin = "5";
                 },
                 "GET http://files.example:8080/a/b.bin HTTP/1.1\r\nAccept: */*\r\nUser-Agent: Brindle\r\n"
                 "Host: files.example:8080\r\nConnection: close\r\nProxy-Authorization: Basic cHU6cHA=\r\nRange: bytes=5-\r\n\r\n"},
        WireCase{"HeaderValueWithLineBreakIsLeftOut",
                 [](THttpCli& c, auto&) {
                   c.Accept = c.Agent = "";
                   c.Reference = "http://x/\r\nX-Injected: 1";
                   c.Cookie = "a\nb";
                 },
                 "GET /dir/file.zip?x=1 HTTP/1.1\r\nHost: %HOST%\r\nConnection: close\r\n\r\n"},
        WireCase{"PostSendsBodyAndContentType", [](THttpCli& c, auto&) { c.Accept = c.Agent = ""; },
                 "POST /dir/file.zip?x=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Host: %HOST%\r\nConnection: close\r\nContent-Length: 7\r\n\r\na=1&b=2",
                 THttpRequest::httpPOST},
        WireCase{"HeadWaitsForNoBody", [](THttpCli& c, auto&) { c.Accept = c.Agent = ""; },
                 "HEAD /dir/file.zip?x=1 HTTP/1.1\r\nHost: %HOST%\r\nConnection: close\r\n\r\n", THttpRequest::httpHEAD}),
    [](const ::testing::TestParamInfo<WireCase>& info) { return info.param.name; });

TEST_F(HttpCliTest, RangeIsClearedOnceSentAndAnswerBoundsAreRead) {
  Script("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na");
  // Some servers put an empty line before Content-Range: it does not end the header.
  Script("HTTP/1.0 206 Partial\r\n\r\nContent-Range: bytes 10-11/12\r\nAccept-Ranges: bytes\r\n\r\nab");
  cli->ContentRangeBegin = "10";
  Get("/f");
  EXPECT_NE(Request(0).find("Range: bytes=10-\r\n"), std::string::npos);
  EXPECT_EQ(cli->ContentRangeBegin, "");
  Get("/f");
  EXPECT_EQ(Request(1).find("Range:"), std::string::npos);
  EXPECT_EQ(cli->ContentRangeBegin, "10");
  EXPECT_EQ(cli->ContentRangeEnd, "11");
  EXPECT_EQ(cli->ContentRangeTotal(), 12);
  EXPECT_EQ(cli->AcceptRanges(), "bytes");
  EXPECT_EQ(body.Data, "aab");
}

// Chunks cut across the client's reads anywhere; the range's answer still
// tells the file's size.
TEST_F(HttpCliTest, LargeChunkedRangeArrivesDecoded) {
  const std::string content = test::MakeContent(1024 * 1024 + 7);
  server.AddFile("/f", content);
  server.SetHandler([&](const HttpRequest& r) {
    return server.Serve(r, {.ChunkSize = 1000, .ChunkExtension = ";a=b", .Trailers = {"X-Sum: 1"}});
  });
  cli->ContentRangeBegin = "100";
  Get("/f");
  EXPECT_EQ(doneError, 0) << cli->ReasonPhrase();
  EXPECT_EQ(cli->StatusCode(), 206);
  EXPECT_EQ(cli->ContentLength(), -1);
  EXPECT_EQ(cli->ContentRangeTotal(), static_cast<int64_t>(content.size()));
  EXPECT_TRUE(body.Data == content.substr(100)) << body.Data.size();
}

struct AnswerCase {
  const char* name;
  std::string answer;
  bool keepOpen;
  int status;
  std::string reason;
  int64_t contentLength;
  std::string contentType;
  std::string body;
  int error;
};

class HttpCliAnswerTest : public HttpCliTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(HttpCliAnswerTest, ParsesAndDelivers) {
  const AnswerCase& c = GetParam();
  Script(c.answer, c.keepOpen);
  Get("/doc");
  EXPECT_EQ(cli->StatusCode(), c.status);
  EXPECT_EQ(cli->ReasonPhrase(), c.reason);
  EXPECT_EQ(cli->ContentLength(), c.contentLength);
  EXPECT_EQ(cli->ContentType(), c.contentType);
  EXPECT_EQ(body.Data, c.body);
  EXPECT_EQ(cli->RcvdCount(), static_cast<int64_t>(c.body.size()));
  EXPECT_EQ(doneError, c.error);
  EXPECT_EQ(doneCount, 1);
  EXPECT_EQ(cli->State(), THttpState::httpReady);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HttpCliAnswerTest,
    ::testing::Values(
        AnswerCase{"BareLineFeeds", "HTTP/1.1 200 OK\nContent-Type: Text/Plain\n\nbody\r\n", false, 200, "OK", -1,
                   "text/plain", "body\r\n", 0},
        AnswerCase{"NoHeaderHtml", "<HTML><body>hi</body>\n</HTML>", false, 0, "", -1, "text/html",
                   "<HTML><body>hi</body>\n</HTML>", 0},
        AnswerCase{"BytesPastContentLengthAreNotTheDocuments",
                   "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcGARBAGE", false, 200, "OK", 3, "", "abc", 0},
        AnswerCase{"ZeroLengthEndsAtOnce", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", true, 200, "OK", 0, "",
                   "", 0},
        // An interim answer is skipped for the real one; a body with a length
        // ends the request even when the server keeps the connection.
        AnswerCase{"InterimContinueThenTheAnswer",
                   "HTTP/1.1 100 Continue\r\nX-Note: wait\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true,
                   200, "OK", 2, "", "ok", 0},
        AnswerCase{"ErrorStatusIsNotReadToTheEnd", "HTTP/1.0 404 Not Found\r\n\r\n<p>missing", true, 404,
                   "Not Found", -1, "", "<p>missing", 0},
        AnswerCase{"ShortBodyIsReported", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc", false, 200, "OK", 10,
                   "", "abc", kHttpErrIncomplete},
        AnswerCase{"CutInsideHeader", "HTTP/1.0 200 OK\r\nContent-Le", false, 200, "OK", -1, "", "",
                   kHttpErrIncomplete},
        AnswerCase{"NothingAtAll", "", false, 0, "", -1, "", "", kHttpErrIncomplete},
        // Only framing the client understands hands bytes on; the rest is
        // refused after the header, without waiting for the server's close.
        AnswerCase{"ChunkedBodyEndsAtItsLastChunkAndIgnoresContentLength",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 3\r\n\r\n"
                   "5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nX-Sum: 1\r\n\r\n",
                   true, 200, "OK", -1, "", "hello world", 0},
        AnswerCase{"ChunkedBodyCutShort", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n wo",
                   false, 200, "OK", -1, "", "hello wo", kHttpErrIncomplete},
        AnswerCase{"MalformedChunkEndsTheRequest",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\ngarbage", true, 200,
                   "Malformed chunked body: bad chunk size", -1, "", "hello", kHttpErrMalformedAnswer},
        AnswerCase{"GzipCodingRefused", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 4\r\n\r\n\x1f\x8b..",
                   true, 200, "Unsupported transfer coding: gzip", -1, "", "", kHttpErrUnsupportedCoding},
        AnswerCase{"CodingAfterChunkedRefused",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n4\r\n....", true, 200,
                   "Unsupported transfer coding: chunked, gzip", -1, "", "", kHttpErrUnsupportedCoding},
        AnswerCase{"CodingBeforeChunkedRefused",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: deflate, chunked\r\n\r\n4\r\n....", true, 200,
                   "Unsupported transfer coding: deflate, chunked", -1, "", "", kHttpErrUnsupportedCoding},
        AnswerCase{"IdentityCodingRefused", "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\nabc", true, 200,
                   "Unsupported transfer coding: identity", -1, "", "", kHttpErrUnsupportedCoding},
        AnswerCase{"EqualLengthsAreOneLength", "HTTP/1.0 200 OK\r\nContent-Length: 3, 3\r\n\r\nabcdef", true, 200, "OK",
                   3, "", "abc", 0},
        AnswerCase{"DifferentLengthsRefused", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
                   true, 200, "Malformed Content-Length: 3, 4", -1, "", "", kHttpErrMalformedAnswer},
        AnswerCase{"NegativeLengthRefused", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nxy", true, 200,
                   "Malformed Content-Length: -5", -1, "", "", kHttpErrMalformedAnswer},
        AnswerCase{"LengthOverflowing64BitsRefused",
                   "HTTP/1.0 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nxy", true, 200,
                   "Malformed Content-Length: 9223372036854775808", -1, "", "", kHttpErrMalformedAnswer},
        AnswerCase{"NonDigitLengthRefused", "HTTP/1.0 200 OK\r\nContent-Length: 2x\r\n\r\nxy", true, 200,
                   "Malformed Content-Length: 2x", -1, "", "", kHttpErrMalformedAnswer},
        AnswerCase{"LineTooLong", "HTTP/1.0 200 OK\r\nX: " + std::string(70000, 'a'), true, 200,
                   "HTTP line too long", -1, "", "", kHttpErrOverflow}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST_F(HttpCliTest, EventsComeInOrderAndDoneOnceAtTheEnd) {
  Script("HTTP/1.0 200 OK\r\nSet-Cookie: s=1\r\n\r\nab");
  std::vector<std::string> log;
  auto note = [&](const std::string& text) { return [&log, text] { log.push_back(text); }; };
  cli->OnSessionConnected = note("SessionConnected");
  cli->OnRequestHeaderBegin = note("RequestHeaderBegin");
  cli->OnCommand = [&](const std::string& line) { log.push_back("Command " + line.substr(0, 4)); };
  cli->OnRequestHeaderEnd = note("RequestHeaderEnd");
  cli->OnHeaderBegin = note("HeaderBegin");
  cli->OnHeaderData = [&] { log.push_back("HeaderData " + cli->LastResponse().substr(0, 4)); };
  cli->OnCookie = [&](const std::string& cookie, bool&) { log.push_back("Cookie " + cookie); };
  cli->OnHeaderEnd = note("HeaderEnd");
  cli->OnDocBegin = note("DocBegin");
  cli->OnDocData = [&](const char*, size_t n) { log.push_back("DocData " + std::to_string(n)); };
  cli->OnDocEnd = note("DocEnd");
  cli->OnRequestDone = [&](THttpRequest, int error) {
    log.push_back("RequestDone " + std::to_string(error));
    ++doneCount;
  };
  cli->Accept = cli->Agent = "";
  Get("/f");
  EXPECT_EQ(log, (std::vector<std::string>{"SessionConnected", "RequestHeaderBegin", "Command GET ", "Command Host",
                                           "Command Conn", "RequestHeaderEnd", "HeaderBegin", "HeaderData HTTP", "Cookie s=1",
                                           "HeaderData Set-", "HeaderEnd", "DocBegin", "DocData 2", "DocEnd",
                                           "RequestDone 0"}));
}

TEST_F(HttpCliTest, NextRequestMayStartInsideRequestDoneButNotWhileBusy) {
  AnswerAll("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nA");
  auto expectThrow = [](const std::function<void()>& call, const char* message, int code) {
    try {
      call();
      ADD_FAILURE() << "no exception: " << message;
    } catch (const EHttpException& e) {
      EXPECT_STREQ(e.what(), message);
      EXPECT_EQ(e.ErrorCode, code);
    }
  };
  cli->URL = server.Url("/f");
  cli->OnRequestDone = [&](THttpRequest, int) {
    if (++doneCount < 3) cli->GetASync();
  };
  cli->GetASync();
  expectThrow([&] { cli->GetASync(); }, "HTTP component is busy", kHttpErrBusy);
  ASSERT_TRUE(RunUntil(loop, [&] { return doneCount == 3; }));
  EXPECT_EQ(body.Data, "AAA");
  EXPECT_EQ(server.Accepted(), 3);
  expectThrow([&] { cli->PostASync(); }, "HTTP component has nothing to post", kHttpErrNoData);
}

struct LocationCase {
  const char* name;
  std::string location;  // from /d/e/f.html?q
  std::string requestLine;
  std::string newLocation;
};

class HttpCliLocationTest : public HttpCliTest, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(HttpCliLocationTest, Follows) {
  Script("HTTP/1.0 301 Moved\r\nLocation: " + Expand(GetParam().location, server) + "\r\n\r\nignored body");
  Script("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  int locationChanges = 0;
  std::string locationAtHeaderEnd;
  cli->OnLocationChange = [&] { ++locationChanges; };
  cli->OnHeaderEnd = [&] {
    if (locationAtHeaderEnd.empty()) locationAtHeaderEnd = cli->Location();
  };
  cli->ContentRangeBegin = "7";
  Get("/d/e/f.html?q");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(RequestLine(1), GetParam().requestLine);
  EXPECT_EQ(Request(1).find("Range:"), std::string::npos);  // the range belonged to the first request
  EXPECT_EQ(cli->Location(), Expand(GetParam().newLocation, server));
  EXPECT_EQ(locationAtHeaderEnd, cli->Location());
  EXPECT_EQ(locationChanges, 1);
  EXPECT_EQ(body.Data, "ok");
  EXPECT_EQ(doneCount, 1);
  EXPECT_EQ(doneError, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, HttpCliLocationTest,
    ::testing::Values(
        LocationCase{"RelativeReplacesLastSegmentAndQuery", "file.zip", "GET /d/e/file.zip HTTP/1.1",
                     "http://%HOST%/d/e/file.zip"},
        LocationCase{"AbsolutePathKeepsPort", "/x/y.bin", "GET /x/y.bin HTTP/1.1", "http://%HOST%/x/y.bin"},
        LocationCase{"AbsoluteUrlWithoutPath", "http://%HOST%", "GET / HTTP/1.1", "http://%HOST%/"},
        LocationCase{"DotSegments", "../g.txt", "GET /d/g.txt HTTP/1.1", "http://%HOST%/d/g.txt"},
        LocationCase{"QueryOnly", "?r=2", "GET /d/e/f.html?r=2 HTTP/1.1", "http://%HOST%/d/e/f.html?r=2"},
        LocationCase{"BlankIsEscaped", "my file.zip", "GET /d/e/my%20file.zip HTTP/1.1",
                     "http://%HOST%/d/e/my%20file.zip"},
        LocationCase{"FragmentDropped", "/k#frag", "GET /k HTTP/1.1", "http://%HOST%/k"}),
    [](const ::testing::TestParamInfo<LocationCase>& info) { return info.param.name; });

TEST_F(HttpCliTest, RedirectionsNotFollowedEndAsFailedFinalAnswers) {
  struct Case {
    std::string location;
    int error;
    std::string reason;
    size_t requests;
  };
  for (const Case& c : {Case{"/again", kHttpErrTooManyRedirects, "Too many redirections (/again)", 21},
                        Case{"ftp://files.example/f.zip", kHttpErrUnsupportedLocation,
                             "Redirection to an unsupported location: ftp://files.example/f.zip", 1},
                        Case{"/a\x01" "b", kHttpErrUnsupportedLocation,
                             "Redirection to an unsupported location: /a?b", 1}}) {
    const size_t before = server.Requests().size();
    AnswerAll("HTTP/1.0 302 Found\r\nLocation: " + c.location + "\r\n\r\nbody", true);
    Get("/again");
    EXPECT_EQ(server.Requests().size() - before, c.requests);
    EXPECT_EQ(doneError, c.error);
    EXPECT_EQ(cli->StatusCode(), 302);
    EXPECT_EQ(cli->ReasonPhrase(), c.reason);
    EXPECT_EQ(cli->Location(), cli->URL);
  }
  EXPECT_EQ(body.Data, "");
}

TEST_F(HttpCliTest, FollowedRedirectionsKeepCredentialsToTheirServerAndPostBecomesGet) {
  Script("HTTP/1.0 302 Found\r\nLocation: http://localhost:" + std::to_string(server.Port()) + "/other\r\n\r\n");
  Script("HTTP/1.0 302 Found\r\nLocation: " + server.Url("/back") + "\r\n\r\n");
  Script("HTTP/1.0 200 OK\r\nLocation: /elsewhere\r\nContent-Length: 4\r\n\r\ndata");  // a final answer
  cli->Username = "u";
  cli->Password = "p";
  const std::string form = "a=1";
  cli->SendStream = &form;
  cli->URL = server.Url("/start");
  cli->PostASync();
  Wait();
  ASSERT_EQ(server.Requests().size(), 3u);
  EXPECT_EQ(server.Requests()[0].Method, "POST");
  EXPECT_EQ(RequestLine(1), "GET /other HTTP/1.1");
  EXPECT_FALSE(server.Requests()[1].Header("Content-Length"));
  EXPECT_EQ(doneRequest, THttpRequest::httpGET);
  EXPECT_TRUE(server.Requests()[0].Header("Authorization"));
  EXPECT_FALSE(server.Requests()[1].Header("Authorization"));
  EXPECT_EQ(server.Requests()[1].Header("Host"), "localhost:" + std::to_string(server.Port()));
  EXPECT_EQ(doneError, 0);
  EXPECT_EQ(body.Data, "data");
  EXPECT_EQ(cli->Location(), server.Url("/back"));
}

TEST_F(HttpCliTest, FailuresBeforeAnAnswerReadAs404WithTheirReason) {
  struct FailingResolver : TNameResolver {
    int Resolve(const std::string&, std::vector<std::string>&) override { return kSocketErrHostNotFound; }
  };
  cli->SetResolver(std::make_shared<FailingResolver>());
  cli->URL = "http://no-such-host.invalid/f";
  cli->GetASync();
  Wait();
  EXPECT_EQ(cli->StatusCode(), 404);
  EXPECT_EQ(cli->ReasonPhrase(), "can't resolve hostname to IP address");
  EXPECT_EQ(doneError, kSocketErrHostNotFound);

  std::string url = std::make_unique<FaultHttpServer>(loop)->Url("/f");  // gone: its port refuses
  cli->URL = url;
  cli->GetASync();
  Wait();
  EXPECT_EQ(cli->StatusCode(), 404);
  EXPECT_EQ(cli->ReasonPhrase(), "Connection refused (Error #" + std::to_string(ECONNREFUSED) + ")");
  EXPECT_EQ(doneError, ECONNREFUSED);
}

TEST_F(HttpCliTest, UrlThatCouldSplitTheRequestIsNeverSent) {
  for (std::string url : {server.Url("/a\r\nX-Evil: 1"), server.Url("/a b"), server.Url(std::string("/a\0b", 4)),
                          server.Url("/a\tb"), std::string("ftp://127.0.0.1/f"), std::string("http:///f"),
                          std::string("http://127.0.0.1:99999/f"), std::string("nonsense")}) {
    cli->URL = url;
    cli->GetASync();
    Wait();
    EXPECT_EQ(doneError, kHttpErrInvalidUrl) << url;
    EXPECT_EQ(cli->ReasonPhrase(), "Invalid URL");
  }
  EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(HttpCliTest, RefusingStreamEndsTheRequest) {
  struct Full : TReceiveStream {
    bool Write(const char*, size_t) override { return false; }
  } full;
  cli->RcvdStream = &full;
  Script("HTTP/1.0 200 OK\r\n\r\ndata", true);
  Get("/f");
  EXPECT_EQ(doneError, kHttpErrWriteFailed);
}

TEST_F(HttpCliTest, AbortMidBodyKeepsWhatArrivedAndClosesTheConnection) {
  cli->Abort();  // idle: nothing happens
  loop.RunOnce(0);
  EXPECT_EQ(doneCount, 0);
  Script("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nfirst", true);
  std::vector<THttpState> states;
  cli->OnStateChange = [&] { states.push_back(cli->State()); };
  cli->OnDocData = [&](const char*, size_t) {
    cli->Abort();
    EXPECT_EQ(doneCount, 0);  // posted, never raised from inside the call
    cli->Abort();
  };
  Get("/f");
  EXPECT_EQ(doneCount, 1);
  EXPECT_EQ(doneError, kHttpErrAborted);
  EXPECT_EQ(cli->StatusCode(), 404);
  EXPECT_EQ(cli->ReasonPhrase(), "Connection aborted on request");
  EXPECT_EQ(body.Data, "first");
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states[states.size() - 2], THttpState::httpAborting);
  EXPECT_EQ(states.back(), THttpState::httpReady);
  EXPECT_TRUE(RunUntil(loop, [&] { return server.OpenConnections() == 0; }));
}

TEST_F(HttpCliTest, AbortDuringLookupDropsTheLateAnswer) {
  // A resolver that answers only when the test lets it.
  struct GatedResolver : TNameResolver {
    int Resolve(const std::string&, std::vector<std::string>& addresses) override {
      entered.set_value();
      open.wait();
      addresses = {"127.0.0.1"};
      return 0;
    }
    std::promise<void> entered, opener;
    std::shared_future<void> open = opener.get_future().share();
  };
  auto resolver = std::make_shared<GatedResolver>();
  std::future<void> entered = resolver->entered.get_future();
  cli->SetResolver(resolver);
  cli->URL = "http://somewhere.test:" + std::to_string(server.Port()) + "/f";
  cli->GetASync();
  entered.wait();
  EXPECT_EQ(cli->State(), THttpState::httpDnsLookup);
  cli->Abort();
  Wait();
  EXPECT_EQ(doneError, kHttpErrAborted);
  resolver->opener.set_value();
  for (int i = 0; i < 5; ++i) loop.RunOnce(20);  // the late answer belongs to nobody
  EXPECT_EQ(server.Accepted(), 0);
  EXPECT_EQ(doneCount, 1);
}

TEST_F(HttpCliTest, OwnerMayDestroyClientFromItsOwnEvents) {
  AnswerAll("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nxyz", true);
  for (int which = 0; which < 4; ++which) {
    auto client = std::make_unique<THttpCli>(&loop);
    THttpCli* raw = client.get();
    bool destroyed = false;
    auto destroy = [&] {
      if (client) loop.DeleteLater(std::move(client));
      destroyed = true;
    };
    if (which == 0) raw->OnSessionConnected = destroy;
    if (which == 1) raw->OnHeaderEnd = destroy;
    if (which == 2) raw->OnDocData = [&](const char*, size_t) { destroy(); };
    if (which == 3)
      raw->OnDocData = [&](const char*, size_t) {
        raw->Abort();
        raw->OnRequestDone = [&](THttpRequest, int) { destroy(); };
      };
    raw->URL = server.Url("/f");
    raw->GetASync();
    ASSERT_TRUE(RunUntil(loop, [&] { return destroyed; })) << which;
    loop.RunOnce(0);
    EXPECT_FALSE(client);
  }
}

}  // namespace
}  // namespace brindle
