#include "integration/version_checker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/version.h"
#include "integration_test_support.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

using test::HttpReply;
using test::HttpRequest;

HttpReply Ok(const std::string& body) {
  return HttpReply{.Head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n",
                   .Body = body};
}

class VersionCheckerITest : public test::IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    WriteString(kOptionsSection, "UpdateURL", http_.Url("/brindle_ver.txt"));
    // The new version's own download waits.
    http_.SetHandler([this](const HttpRequest& r) {
      return r.Target.ends_with("brindle_ver.txt") ? versionFile_ : Held(http_.Serve(r));
    });
    checker_ = std::make_unique<TVersionChecker>(*system_, &loop_);
    checker_->OnStatusText = [this](const std::string& text) { statusTexts_.push_back(text); };
  }
  void TearDown() override {
    checker_.reset();
    IntegrationTest::TearDown();
  }
  // One check whose version file request gets reply.
  void CheckWith(HttpReply reply) {
    versionFile_ = std::move(reply);
    checker_->Check();
    ASSERT_TRUE(Run([this] { return !checker_->Checking(); }));
  }
  std::string Question(const std::string& version, const std::string& note) const {
    return "Brindle|Version " + version + " of Brindle has been released. \nNew in this version: \n" + note +
           "\nDownload it now?";
  }

  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
  std::unique_ptr<TVersionChecker> checker_;
  HttpReply versionFile_;
  std::vector<std::string> statusTexts_;
};

TEST_F(VersionCheckerITest, AnswersOfTheUpdateServer) {
  const std::string exe = http_.Url("/brindle-1.30.exe");
  struct Case {
    std::string Name;
    HttpReply Reply;
    bool Yes;
    std::vector<std::string> Status{}, Questions{}, Opened{}, Downloads{};
  };
  const std::vector<Case> cases = {
      {"same version, no line end", Ok("1.22#" + exe + "#Nothing#"), true, {TVersionChecker::kLatestVersionText}},
      {"older version", Ok("1.219#x#y#\n"), true, {TVersionChecker::kLatestVersionText}},
      {"newer program file, Yes",
       Ok("1.30#" + exe + "#Faster joins#\r\n1.99#" + exe + "#second line#\r\n"),
       true,
       {},
       {Question("1.30", "Faster joins")},
       {},
       {exe}},
      {"newer, No", Ok("1.30#" + exe + "#Faster joins#"), false, {}, {Question("1.30", "Faster joins")}},
      {"capital extension goes to the browser",
       Ok("2.0#http://brindle-dm.org/SETUP.EXE#n#\n"),
       true,
       {},
       {Question("2.0", "n")},
       {"http://brindle-dm.org/SETUP.EXE"}},
      {"note without its #", Ok("1.3#http://brindle-dm.org/new#no end\r"), true, {}, {Question("1.3", "")},
       {"http://brindle-dm.org/new"}},
      {"a local file is never opened", Ok("1.30#file:///etc/passwd#n#"), true, {}, {Question("1.30", "n")}},
      {"error page", test::StatusReply(404, "Not Found", "<html><body>Not here</body></html>"), true},
      {"empty file", Ok(""), true},
      {"not a version", Ok("v1.30#" + exe + "#n#"), true},
      {"cut before the version ends", HttpReply{.Head = "HTTP/1.0 200 OK\r\n\r\n", .Body = "1.30"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    statusTexts_.clear();
    prompt_.questions.clear();
    launcher_.opened.clear();
    prompt_.yes = c.Yes;
    const int before = system_->DownloadList().Count();
    CheckWith(c.Reply);
    EXPECT_EQ(statusTexts_, c.Status);
    EXPECT_EQ(prompt_.questions, c.Questions);
    EXPECT_EQ(launcher_.opened, c.Opened);
    std::vector<std::string> downloads;
    for (int i = before; i < system_->DownloadList().Count(); ++i)
      downloads.push_back(system_->DownloadList().Get(i)->Url->Url);
    EXPECT_EQ(downloads, c.Downloads);
  }
  // The request is a plain GET with the client's default fields.
  const HttpRequest& request = http_.Requests().front();
  EXPECT_EQ(request.Lines().front(), "GET /brindle_ver.txt HTTP/1.1");
  EXPECT_EQ(request.Header("User-Agent"), "Mozilla/3.0 (compatible)");
  EXPECT_EQ(request.Header("Accept"), "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
  EXPECT_FALSE(request.Header("Range"));
}

TEST_F(VersionCheckerITest, RefusedConnectionShowsNothing) {
  uint16_t closedPort = 0;
  {
    test::FaultHttpServer gone(loop_);
    closedPort = gone.Port();
  }
  WriteString(kOptionsSection, "UpdateURL", "http://127.0.0.1:" + std::to_string(closedPort) + "/brindle_ver.txt");
  checker_->Check();
  ASSERT_TRUE(Run([this] { return !checker_->Checking(); }));
  loop_.RunOnce(0);
  EXPECT_TRUE(statusTexts_.empty());
  EXPECT_TRUE(prompt_.questions.empty());
}

TEST_F(VersionCheckerITest, AnAddressThroughTheProxyAndTheProgramsOwnVersion) {
  WriteString(kOptionsSection, "UpdateURL", "http://updates.brindle.invalid/brindle_ver.txt");
  WriteBool(kOptionsSection, "UseHTTPProxy", true);
  WriteString(kOptionsSection, "HTTPProxyAddress", "127.0.0.1");
  WriteString(kOptionsSection, "HTTPProxyPort", std::to_string(http_.Port()));
  checker_ = std::make_unique<TVersionChecker>(*system_, &loop_);
  checker_->OnStatusText = [this](const std::string& text) { statusTexts_.push_back(text); };
  CheckWith(Ok(std::string(BrindleVersion()) + "#x#y#"));
  EXPECT_EQ(http_.Requests().back().Target, "http://updates.brindle.invalid/brindle_ver.txt");
  EXPECT_EQ(statusTexts_, std::vector<std::string>{TVersionChecker::kLatestVersionText});
}

TEST_F(VersionCheckerITest, TheStartUpCheckRunsOnceAWeek) {
  versionFile_ = Ok("1.22#x#y#");
  const TDateTime day = 46000;
  struct Case {
    bool CheckForUpdates;
    int LastChecked;
    TDateTime Now;
    bool Due;
    int LastAfter;
  };
  const Case cases[] = {
      {true, 0, day + 0.25, true, 46000},           // never checked; rounded to today
      {true, 46000 - 6, day + 0.9, false, 45994},   // six days ago
      {true, 46000 - 7, day + 0.75, true, 46001},   // a week ago; the evening rounds up
      {false, 0, day, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.LastChecked);
    WriteBool(kOptionsSection, "CheckForUpdates", c.CheckForUpdates);
    WriteInteger(kOptionsSection, "LastCheckedForUpdate", c.LastChecked);
    const size_t requests = http_.Requests().size();
    EXPECT_EQ(checker_->CheckIfDue(c.Now), c.Due);
    EXPECT_EQ(ReadInteger(kOptionsSection, "LastCheckedForUpdate", -1), c.LastAfter);
    ASSERT_TRUE(Run([this] { return !checker_->Checking(); }));
    EXPECT_EQ(http_.Requests().size(), requests + (c.Due ? 1 : 0));
  }
}

}  // namespace
}  // namespace brindle
