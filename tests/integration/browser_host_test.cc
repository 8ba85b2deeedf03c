#include "integration/browser_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/file_names.h"
#include "core/memory_registry.h"
#include "core/paths.h"
#include "core/settings.h"
#include "integration/browser_request.h"
#include "integration/native_message_reader.h"
#include "manager/ignored_links.h"
#include "support/manual_clock.h"

namespace brindle {
namespace {

using Result = TNativeMessageReader::TResult;

std::string Length(uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

TEST(NativeMessageReaderTest, SplitsTheStreamIntoMessages) {
  const std::string one = FrameNativeMessage("{\"a\":1}");
  const std::string two = FrameNativeMessage("[2]");
  TNativeMessageReader reader;
  std::string message;
  // Split inside the length and inside the body.
  reader.Feed(one.substr(0, 2));
  EXPECT_EQ(reader.Next(message), Result::NeedMore);
  reader.Feed(one.substr(2, 5));
  EXPECT_EQ(reader.Next(message), Result::NeedMore);
  EXPECT_TRUE(reader.HasPartial());
  // The rest of the first and the whole second message in one read.
  reader.Feed(one.substr(7) + two);
  ASSERT_EQ(reader.Next(message), Result::Message);
  EXPECT_EQ(message, "{\"a\":1}");
  ASSERT_EQ(reader.Next(message), Result::Message);
  EXPECT_EQ(message, "[2]");
  EXPECT_EQ(reader.Next(message), Result::NeedMore);
  EXPECT_FALSE(reader.HasPartial());
}

TEST(NativeMessageReaderTest, RefusesZeroAndOversizedLengthsBeforeReadingTheBody) {
  for (uint32_t length : {0u, TNativeMessageReader::kMaxMessage + 1, 0xFFFFFFFFu}) {
    TNativeMessageReader reader;
    std::string message;
    reader.Feed(Length(length));
    EXPECT_EQ(reader.Next(message), Result::Invalid) << length;
    EXPECT_FALSE(reader.Error().empty());
    reader.Feed(FrameNativeMessage("{}"));
    EXPECT_EQ(reader.Next(message), Result::Invalid) << "the stream stays refused";
  }
  TNativeMessageReader largest;
  std::string message;
  largest.Feed(Length(TNativeMessageReader::kMaxMessage));
  EXPECT_EQ(largest.Next(message), Result::NeedMore);
}

TEST(BrowserRequestTest, DecodesRequestsAndRefusesMalformedOnes) {
  struct Case {
    std::string Json;
    bool Valid;
  };
  const std::string longUrl = "http://h/" + std::string(kMaxBrowserUrl, 'a');
  const auto withExtra = [](const std::string& extra) {
    return R"({"type":"link","url":"http://h/f","browser":"chromium","extra":)" + extra + "}";
  };
  const Case cases[] = {
      {R"({"type":"download","url":"https://h/f.zip","browser":"chromium","filename":"f.zip",)"
       R"("referrer":"https://h/page","cookies":"a=1; b=2","extra":[1]})",
       true},
      {R"({"type":"link","url":"ftp://h/f","browser":"firefox"})", true},
      {R"({"type":"download","url":"mailto:x@y","browser":"opera"})", true},  // judged later, not malformed
      {R"({"url":"http://h/f","browser":"chromium"})", false},
      {R"({"type":"download","browser":"chromium"})", false},
      {R"({"type":"download","url":"http://h/f"})", false},
      {R"({"type":"upload","url":"http://h/f","browser":"chromium"})", false},
      {R"({"type":"download","url":"http://h/f","browser":"lynx"})", false},
      {R"({"type":"download","url":5,"browser":"chromium"})", false},
      {R"({"type":"download","url":"http://h/f","browser":"chromium","cookies":null})", false},
      {R"({"type":"download","url":"","browser":"chromium"})", false},
      {R"({"type":"download","url":"http://h/a b","browser":"chromium"})", false},
      {R"({"type":"download","url":"http://h/f","browser":"chromium","cookies":"a=1\r\nX-Evil: 1"})", false},
      {R"({"type":"download","url":"http://h/f","browser":"chromium","referrer":"http://h/\n"})", false},
      {R"({"type":"download","url":")" + longUrl + R"(","browser":"chromium"})", false},
      {"{\"type\":\"download\",\"url\":\"http://h/\xFF\",\"browser\":\"chromium\"}", false},
      {R"(["download"])", false},
      {R"({"type":"download",)", false},
      {withExtra(std::string(31, '[') + std::string(31, ']')), true},
      {withExtra(std::string(32, '[') + std::string(32, ']')), false},  // nested too deep
      {withExtra("\"\\ud83d\\ude00 caf\xC3\xA9\""), true},
      {withExtra("\"\\ud800\""), false},       // a lone surrogate
      {withExtra("\"\\udc00\\ud800\""), false},  // a pair in the wrong order
      {withExtra("\"\xC0\xAF\""), false},         // overlong "/"
      {withExtra("\"\xED\xA0\x80\""), false},    // a raw surrogate
      {withExtra("\"\xF4\x90\x80\x80\""), false},  // past U+10FFFF
      {withExtra("\"tab\there\""), false},       // a raw control character
      {withExtra("01"), false},
      // A repeated key would let a second value slip past a check of the first.
      {R"({"type":"link","url":"http://h/f","url":"http://evil/","browser":"chromium"})", false},
      {R"({"type":"link","url":"http://h/f","browser":"chromium"} {})", false},
      {std::string(R"({"type":"link","url":"http://h/f","browser":"chromium"})") + std::string(1, '\0'), false},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto request = DecodeBrowserRequest(c.Json, error);
    EXPECT_EQ(request.has_value(), c.Valid) << c.Json;
    if (!c.Valid) {
      EXPECT_FALSE(error.empty()) << c.Json;
    }
  }
  std::string error;
  const auto request = DecodeBrowserRequest(cases[0].Json, error);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->Url, "https://h/f.zip");
  EXPECT_EQ(request->FileName, "f.zip");
  EXPECT_EQ(request->Referrer, "https://h/page");
  EXPECT_EQ(request->Cookies, "a=1; b=2");
  EXPECT_EQ(request->Browser, TBrowserFamily::Chromium);
}

TEST(BrowserRequestTest, ProposedNamesAreReducedToASafeBaseName) {
  const std::pair<std::string, std::string> cases[] = {
      {"report.pdf", "report.pdf"},
      {"/home/u/Downloads/report.pdf", "report.pdf"},
      {"..\\..\\evil.exe", "evil.exe"},
      {"a\x01\x1F\x7F" "b.zip", "a___b.zip"},
      {"\x1b[2J\n.zip", "_[2J_.zip"},
      {"\n", "_"},
      {"..", ""},
      {"dir/..", ""},
      {"dir/", ""},
      {std::string(300, 'x') + ".zip", std::string(251, 'x') + ".zip"},
  };
  for (const auto& [proposed, safe] : cases) EXPECT_EQ(SafeBaseName(proposed), safe) << proposed;
}

class BrowserHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(&registry_);
    WriteString(kOptionsSection, "Extensions", kDefaultExtensionList);
  }
  void TearDown() override { SetRegistry(nullptr); }

  static TBrowserRequest Request(std::string url, std::string name = "", TBrowserFamily browser = TBrowserFamily::Chromium,
                                 TBrowserRequest::TType type = TBrowserRequest::TType::Download) {
    TBrowserRequest request;
    request.Url = std::move(url);
    request.FileName = std::move(name);
    request.Browser = browser;
    request.Type = type;
    return request;
  }

  MemoryRegistry registry_;
};

TEST_F(BrowserHostTest, DecidesFromTheSettingsTheBrowserAndTheMasks) {
  using F = TBrowserFamily;
  constexpr auto kLink = TBrowserRequest::TType::Link;
  constexpr auto kDownload = TBrowserRequest::TType::Download;
  struct Case {
    const char* Enabled;  // "EnableBrowserIntegration" written, "" for the default
    const char* Browsers; // "cfo": which of the three browser settings are set
    TBrowserRequest Request;
    bool Taken;
  };
  const Case cases[] = {
      {"", "c", Request("https://h/dl?id=1", "setup.EXE"), true},  // the proposed name, not the URL, decides
      {"", "c", Request("https://h/setup.exe", ""), true},          // without a name, the URL's
      {"", "c", Request("https://h/notes.txt", "notes.txt"), false},
      {"", "c", Request("ftp://h/pub/a.tar.gz", "a.tar.gz"), true},
      {"", "c", Request("http://h/f.r01", "f.r01"), true},          // "r0*" mask
      {"", "c", Request("mailto:x@h.zip", "x.zip"), false},
      {"", "c", Request("file:///etc/a.zip", "a.zip"), false},
      {"", "c", Request("javascript:a.zip", "a.zip", F::Chromium, kLink), false},
      {"", "c", Request("ftpfoo.zip", "a.zip"), false},             // no scheme, however it is guessed
      {"0", "cfo", Request("https://h/a.zip", "a.zip"), false},
      {"1", "", Request("https://h/a.zip", "a.zip"), false},
      {"", "c", Request("https://h/a.zip", "a.zip", F::Firefox), false},  // Firefox is off by default
      {"", "f", Request("https://h/a.zip", "a.zip", F::Firefox), true},
      {"", "f", Request("https://h/a.zip", "a.zip", F::Opera), false},
      {"", "o", Request("https://h/a.zip", "a.zip", F::Opera), true},
      {"0", "", Request("https://h/notes.txt", "notes.txt", F::Firefox, kLink), true},  // asked for by the user
      {"", "c", Request("https://h/a.zip", "a.zip", F::Chromium, kDownload), true},
      {"", "c", Request("https://h/ignored.zip", "a.zip"), false},
      {"", "c", Request("https://h/ignored.zip", "a.zip", F::Chromium, kLink), false},
  };
  for (const Case& c : cases) {
    registry_.Clear();
    WriteString(kOptionsSection, "Extensions", kDefaultExtensionList);
    if (*c.Enabled) WriteBool(kOptionsSection, "EnableBrowserIntegration", *c.Enabled == '1');
    const std::string browsers = c.Browsers;
    WriteBool(kOptionsSection, "IntegrateWithInternetExplorer", browsers.find('c') != std::string::npos);
    WriteBool(kOptionsSection, "IntegrateWithNetscape", browsers.find('f') != std::string::npos);
    WriteBool(kOptionsSection, "IntegrateWithOpera", browsers.find('o') != std::string::npos);
    IgnoreLink("https://h/ignored.zip");
    std::string reason;
    EXPECT_EQ(TBrowserHost::Takes(c.Request, reason), c.Taken) << c.Request.Url << " " << c.Request.FileName;
    if (!c.Taken) {
      EXPECT_FALSE(reason.empty());
    }
  }
}

TEST_F(BrowserHostTest, StartsTheProgramWhenNoneRunsAndWaitsForIt) {
  test::ManualClock clock;
  std::vector<THandOverRequest> received;
  bool running = false;
  int starts = 0;
  int64_t startedAt = 0;
  TBrowserHost host;
  host.WaitClock = &clock;
  host.Pause = [&clock](int64_t ms) { clock.SetMonotonicMs(clock.MonotonicMs() + ms); };
  host.HandOver = [&](const THandOverRequest& request) -> std::optional<int> {
    // The started program opens its channel a second after it was started.
    if (!running || clock.MonotonicMs() < startedAt + 1000) return std::nullopt;
    received.push_back(request);
    return 1;
  };
  host.StartProgram = [&] {
    ++starts;
    running = true;
    startedAt = clock.MonotonicMs();
    return true;
  };
  TBrowserRequest request = Request("https://h/a.zip", "a.zip");
  request.Referrer = "https://h/page";
  request.Cookies = "s=1";
  EXPECT_EQ(host.Answer(request), "{\"taken\":true}");
  EXPECT_EQ(starts, 1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(received[0].Structured);
  EXPECT_EQ(received[0].FileName, "a.zip");
  EXPECT_EQ(received[0].Referrer, "https://h/page");
  EXPECT_EQ(received[0].Cookies, "s=1");

  // Running: handed over without a start.
  EXPECT_EQ(host.Answer(request), "{\"taken\":true}");
  EXPECT_EQ(starts, 1);

  // A program that never opens its channel: given up after the wait, and
  // the browser keeps the download.
  running = false;
  host.StartProgram = [&] {
    ++starts;
    return true;
  };
  const int64_t before = clock.MonotonicMs();
  EXPECT_EQ(host.Answer(request).rfind("{\"taken\":false", 0), 0u);
  EXPECT_EQ(clock.MonotonicMs() - before, TBrowserHost::kStartWaitMs);
  host.StartProgram = [] { return false; };
  EXPECT_EQ(host.Answer(request).rfind("{\"taken\":false", 0), 0u);
}

TEST_F(BrowserHostTest, RunAnswersEachMessageAndEndsOnMalformedInput) {
  struct Case {
    std::string Input;
    int Status;
    size_t Answers;
  };
  const std::string leave = FrameNativeMessage(R"({"type":"download","url":"https://h/a.txt","browser":"chromium"})");
  // Which lengths and messages are refused is the reader's and the decoder's test.
  const Case cases[] = {
      {leave + leave, 0, 2},
      {"", 0, 0},
      {leave + leave.substr(0, 10), 1, 1},  // cut inside the second message
      {leave.substr(0, 3), 1, 0},           // cut inside the length
      {leave + FrameNativeMessage(R"({"type":"download"})") + leave, 1, 1},  // nothing after a bad message
  };
  for (const Case& c : cases) {
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(write(in[1], c.Input.data(), c.Input.size()), static_cast<ssize_t>(c.Input.size()));
    close(in[1]);
    TBrowserHost host;
    host.HandOver = [](const THandOverRequest&) { return std::optional<int>(1); };
    std::string error;
    EXPECT_EQ(host.Run(in[0], out[1], error), c.Status) << c.Input.size();
    EXPECT_EQ(error.empty(), c.Status == 0);
    close(in[0]);
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    TNativeMessageReader answers;
    answers.Feed(output);
    size_t count = 0;
    std::string answer;
    while (answers.Next(answer) == Result::Message) {
      EXPECT_EQ(answer.rfind("{\"taken\":false,\"reason\":", 0), 0u) << answer;
      ++count;
    }
    EXPECT_EQ(count, c.Answers);
    EXPECT_FALSE(answers.HasPartial());
  }
}

}  // namespace
}  // namespace brindle
