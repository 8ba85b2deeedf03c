// The browser integration the whole way in real browsers: headless
// Chromium and Firefox with the unpacked extension, brindle-host started by
// the browser through the host manifest Brindle installs, and brindle-cli
// as the running instance. Each page clicks its own download link.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/settings.h"
#include "core/settings_reader.h"
#include "core/settings_schema.h"
#include "headless_chromium.h"
#include "headless_firefox.h"
#include "integration/browser_integration.h"
#include "platform/registry_hive_file.h"
#include "support/cli_process.h"
#include "support/fault_http_server.h"
#include "support/loop_thread.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

const std::string kBinaryDir = BRINDLE_BINARY_DIR;
const std::string kExtension = BRINDLE_EXTENSION_DIR;
const std::string kHost = kBinaryDir + "/src/app/brindle-host";
const std::vector<std::string> kPages = {"/zip.html", "/setup.html?from=e2e", "/txt.html"};
const std::string kNotes = "Notes of the release.\n";

std::string Page(const std::string& link) {
  return "<!DOCTYPE html><html><body>" + link +
         "<script>window.addEventListener('load', () => document.getElementById('get').click());</script>"
         "</body></html>";
}

// Three pages, each clicking one link. Two .zip links are taken: one named
// by the page (its URL names nothing of the kind), whose fetch by the
// browser stays in progress as a large file's would, and a plain link to a
// small file on another site, which the browser may finish before Brindle
// has answered. Both arrive in Brindle's download directory, and Brindle
// fetches each with the cookie and referrer the browser sent: the page's
// address to its own site, its origin alone to another. The browser keeps
// no copy. A .txt link, not in Brindle's extensions, is left to the browser.
class BrowserEndToEnd : public ::testing::Test {
 protected:
  BrowserEndToEnd() {
    std::filesystem::create_directories(browserDownloads_);
    server_ = &thread_.Make<test::FaultHttpServer>();
    thread_.Call([this] {
      server_->SetHandler([this](const test::HttpRequest& request) {
        const std::vector<std::string> cookie = {"Set-Cookie: sid=e2e; Path=/"};
        if (request.Target == "/zip.html")
          return test::StatusReply(
              200, "OK", Page("<a id=get href='/get?id=7' download='Quarterly Report.zip'>zip</a>"), cookie);
        if (request.Target == "/setup.html?from=e2e")
          return test::StatusReply(200, "OK", Page("<a id=get href='" + OtherSite("/setup.zip") + "'>zip</a>"),
                                   cookie);
        if (request.Target == "/txt.html")
          return test::StatusReply(200, "OK", Page("<a id=get href='/notes.txt' download>txt</a>"), cookie);
        if (request.Target == "/notes.txt") return test::FileReply(request, kNotes);
        test::HttpReply reply = request.Target == "/get?id=7" ? test::FileReply(request, archive_)
                                                              : server_->Serve(request);
        // The browser asks first; Brindle's requests run free.
        if (request.Target == "/get?id=7" && ++archiveRequests_ == 1) reply.StallAt = {1000};
        if (request.Target == "/hold.bin") reply.StallAt = {1000};
        return reply;
      });
      server_->AddFile("/hold.bin", test::MakeContent(64 * 1024));
      server_->AddFile("/setup.zip", setup_);
    });
  }

  // The server's address under another name: another site to the browser.
  std::string OtherSite(const std::string& path) const {
    std::string url = server_->Url(path);
    return url.replace(url.find("127.0.0.1"), 9, "localhost");
  }

  std::vector<test::HttpRequest> RequestsFor(const std::string& target) {
    std::vector<test::HttpRequest> found;
    thread_.Call([&] {
      for (const test::HttpRequest& request : server_->Requests())
        if (request.Target == target) found.push_back(request);
    });
    return found;
  }

  // The running instance: brindle-cli holding a download of its own open.
  void StartBrindle() {
    cli_.Start({.Args = {"-q", "-d", downloads_.Path(), server_->Url("/hold.bin")},
                .Env = {"XDG_DOWNLOAD_DIR=" + downloads_.Path()}});
    ASSERT_TRUE(test::WaitFor([&] { return !RequestsFor("/hold.bin").empty(); }, 20));
  }

  // Once the browser has opened the pages.
  void ExpectZipsTakenAndTxtKept(const std::string& browserLog) {
    // The browser asks once and Brindle fetches the file itself.
    for (const std::string target : {"/get?id=7", "/setup.zip"})
      EXPECT_TRUE(test::WaitFor([&] { return RequestsFor(target).size() >= 2; }, 30))
          << target << "\n" << test::ReadWholeFile(browserLog);
    EXPECT_TRUE(test::WaitFor([&] { return test::ReadWholeFile(browserDownloads_ + "/notes.txt") == kNotes; }, 30))
        << test::ReadWholeFile(browserLog);

    thread_.Call([&] { server_->Release(); });
    const test::CliOutcome outcome = cli_.Wait(30000);
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_TRUE(test::ReadWholeFile(downloads_.File("Quarterly Report.zip")) == archive_);
    EXPECT_TRUE(test::ReadWholeFile(downloads_.File("setup.zip")) == setup_);
    EXPECT_FALSE(test::FileExists(downloads_.File("notes.txt")));
    // Every request for the taken files, the browser's and Brindle's alike.
    const struct {
      std::string Target, Cookie, Referer;
    } sent[] = {{"/get?id=7", "sid=e2e", server_->Url("/zip.html")}, {"/setup.zip", "", server_->Url("/")}};
    for (const auto& [target, cookie, referer] : sent)
      for (const test::HttpRequest& request : RequestsFor(target)) {
        EXPECT_EQ(request.Header("Cookie").value_or(""), cookie) << request.Raw;
        EXPECT_EQ(request.Header("Referer").value_or(""), referer) << request.Raw;
      }
    // The browser cancelled its own downloads and erased what it had written.
    std::vector<std::string> kept;
    EXPECT_TRUE(test::WaitFor(
        [&] {
          kept = test::ListFiles(browserDownloads_);
          return kept == std::vector<std::string>{"notes.txt"};
        },
        10))
        << ::testing::PrintToString(kept);
  }

  test::TempDir home_, runtime_, profile_, downloads_, logs_;
  const std::string configHome_ = home_.File(".config");
  const std::string browserDownloads_ = home_.File("Downloads");
  // The browser, the host it starts and brindle-cli inherit these.
  test::ScopedEnvironment environment_{{{"HOME", home_.Path()},
                                        {"XDG_CONFIG_HOME", configHome_},
                                        {"XDG_RUNTIME_DIR", runtime_.Path()},
                                        {"BRINDLE_HOME", profile_.Path()}}};
  const std::string archive_ = test::MakeContent(200 * 1024 + 3);
  const std::string setup_ = test::MakeContent(20 * 1024);
  int archiveRequests_ = 0;
  test::LoopThread thread_;
  test::FaultHttpServer* server_ = nullptr;
  test::CliProcess cli_{kBinaryDir + "/src/app/brindle-cli", profile_.Path(), logs_.Path()};
};

TEST_F(BrowserEndToEnd, ChromiumHandsTheZipsToBrindleAndKeepsTheTxt) {
  const std::string chromium = test::FindProgram("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  const std::string browserProfile = configHome_ + "/chromium";
  // With --user-data-dir Chromium reads the host manifest from that
  // directory, which is where Brindle installs it for Chromium.
  TBrowserIntegration(home_.Path(), configHome_, kHost).IntegrateInternetExplorer();
  ASSERT_TRUE(test::FileExists(browserProfile + "/NativeMessagingHosts/" + kNativeHostName + ".json"));
  StartBrindle();

  test::HeadlessChromium browser(chromium, browserProfile, kExtension, logs_.File("chromium.log"));
  ASSERT_TRUE(browser.WaitForExtension()) << test::ReadWholeFile(logs_.File("chromium.log"));
  for (const std::string& page : kPages) ASSERT_TRUE(browser.Open(server_->Url(page)));
  ExpectZipsTakenAndTxtKept(logs_.File("chromium.log"));
}

TEST_F(BrowserEndToEnd, FirefoxHandsTheZipsToBrindleAndKeepsTheTxt) {
  std::string firefox = test::FindProgram("firefox-esr");
  if (firefox.empty()) firefox = test::FindProgram("firefox");
  if (firefox.empty()) GTEST_SKIP() << "firefox-esr is not installed (test.sh installs it)";
  // Brindle takes Firefox's downloads once the user ticks Firefox.
  {
    RegistryHiveFile hive;
    hive.Load(RegistryFile());
    SetRegistry(&hive);
    Write(setting::IntegrateWithNetscape, true);
    SetRegistry(nullptr);
  }
  TBrowserIntegration(home_.Path(), configHome_, kHost).IntegrateNetscape();
  ASSERT_TRUE(test::FileExists(home_.File(".mozilla/native-messaging-hosts/") + kNativeHostName + ".json"));
  StartBrindle();

  test::HeadlessFirefox browser(firefox, home_.File("firefox-profile"), browserDownloads_, logs_.File("firefox.log"));
  ASSERT_TRUE(browser.InstallExtension(kExtension)) << test::ReadWholeFile(logs_.File("firefox.log"));
  for (const std::string& page : kPages) ASSERT_TRUE(browser.Open(server_->Url(page)));
  ExpectZipsTakenAndTxtKept(logs_.File("firefox.log"));
}

}  // namespace
}  // namespace brindle
