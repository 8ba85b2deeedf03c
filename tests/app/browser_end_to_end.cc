// The browser integration the whole way in a real browser: headless
// Chromium with the unpacked extension, brindle-host started by Chromium
// through the host manifest, and brindle-cli as the running instance.
// Chromium is driven over its DevTools pipe (fds 3 and 4, NUL-separated
// JSON) only to learn when the extension listens and to open the pages;
// each page clicks its own download link.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "integration/browser_integration.h"
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

using Clock = std::chrono::steady_clock;

std::string FindChromium() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/chromium";
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// The value of the first "key":"value" in json, enough for DevTools' answers.
std::string StringField(const std::string& json, const std::string& key, size_t from = 0) {
  const std::string marker = "\"" + key + "\":\"";
  const size_t at = json.find(marker, from);
  if (at == std::string::npos) return "";
  const size_t begin = at + marker.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

// Headless Chromium in its own process group, commands on fd 3, answers on fd 4.
class Chromium {
 public:
  Chromium(const std::string& binary, const std::string& profile, const std::string& log) {
    int commands[2], answers[2];
    EXPECT_EQ(pipe2(commands, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(answers, O_CLOEXEC), 0);
    // Above 4, so that the child's dup2 onto 3 and 4 never meets itself.
    const int childIn = fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
    const int childOut = fcntl(answers[1], F_DUPFD_CLOEXEC, 10);
    close(commands[0]);
    close(answers[1]);
    in_ = commands[1];
    out_ = answers[0];
    std::vector<std::string> args = {binary,
                                     "--headless=new",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-features=DisableLoadExtensionCommandLineSwitch",
                                     "--remote-debugging-pipe",
                                     "--user-data-dir=" + profile,
                                     "--load-extension=" + kExtension,
                                     "--disable-extensions-except=" + kExtension,
                                     "about:blank"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(logFd, 1);
      dup2(logFd, 2);
      dup2(childIn, 3);
      dup2(childOut, 4);
      execv(argv[0], argv.data());
      _exit(127);
    }
    setpgid(pid_, pid_);
    close(childIn);
    close(childOut);
  }

  ~Chromium() {
    close(in_);
    close(out_);
    if (pid_ <= 0) return;
    // The browser's helpers share its group; the host ends with its pipe.
    kill(-pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid_, SIGKILL);
  }

  // Sends a DevTools command and returns its answer; "" when none came in
  // time or the browser went away.
  std::string Send(const std::string& method, const std::string& params, const std::string& session = "") {
    const int id = ++lastId_;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
    if (!session.empty()) message += ",\"sessionId\":\"" + session + "\"";
    message += "}";
    message.push_back('\0');
    if (write(in_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "";
    const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      size_t end;
      while ((end = buffer_.find('\0')) != std::string::npos) {
        std::string answer = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (answer.rfind(prefix, 0) == 0) return answer;
      }
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char chunk[65536];
      const ssize_t count = read(out_, chunk, sizeof chunk);
      if (count <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(count));
    }
    return "";
  }

  // Waits until the extension's service worker runs and has its listener
  // for new downloads: before that, Chromium would keep a download itself.
  bool WaitForExtension() {
    const std::string worker = std::string("chrome-extension://") + kChromiumExtensionId + "/";
    std::string target;
    const bool found = test::WaitFor(
        [&] {
          const std::string targets = Send("Target.getTargets", "{}");
          for (size_t at = targets.find("{\"targetId\""); at != std::string::npos;
               at = targets.find("{\"targetId\"", at + 1)) {
            const size_t next = targets.find("{\"targetId\"", at + 1);
            const std::string info = targets.substr(at, next == std::string::npos ? std::string::npos : next - at);
            if (StringField(info, "type") == "service_worker" && StringField(info, "url").rfind(worker, 0) == 0) {
              target = StringField(info, "targetId");
              return true;
            }
          }
          return false;
        },
        30);
    if (!found) return false;
    const std::string session =
        StringField(Send("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}"), "sessionId");
    if (session.empty()) return false;
    return test::WaitFor(
        [&] {
          const std::string answer =
              Send("Runtime.evaluate", R"js({"expression":"chrome.downloads.onDeterminingFilename.hasListeners()"})js",
                   session);
          return answer.find("\"value\":true") != std::string::npos;
        },
        30);
  }

  // A page in a tab of its own: Chromium allows each tab one download
  // without a user's gesture.
  bool Open(const std::string& url) {
    return !StringField(Send("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId").empty();
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int lastId_ = 0;
  std::string buffer_;
};

std::string Page(const std::string& link) {
  return "<!DOCTYPE html><html><body>" + link +
         "<script>window.addEventListener('load', () => document.getElementById('get').click());</script>"
         "</body></html>";
}

// A .zip link is taken: it arrives in Brindle's download directory under
// the name the page proposed (its URL names nothing of the kind), fetched
// with the page's cookie and referrer, and the browser keeps no copy. A .txt
// link, not in Brindle's extensions, is left to the browser.
TEST(BrowserEndToEnd, ChromiumHandsTheZipToBrindleAndKeepsTheTxt) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";

  test::TempDir home, runtime, profile, downloads, logs;
  const std::string configHome = home.File(".config");
  const std::string browserProfile = configHome + "/chromium";
  const std::string browserDownloads = home.File("Downloads");
  std::filesystem::create_directories(browserDownloads);
  // The browser, the host it starts and brindle-cli inherit these.
  test::ScopedEnvironment environment({{"HOME", home.Path()},
                                       {"XDG_CONFIG_HOME", configHome},
                                       {"XDG_RUNTIME_DIR", runtime.Path()},
                                       {"BRINDLE_HOME", profile.Path()}});
  // With --user-data-dir Chromium reads the host manifest from that
  // directory, which is where Brindle installs it for Chromium.
  TBrowserIntegration(home.Path(), configHome, kBinaryDir + "/src/app/brindle-host").IntegrateInternetExplorer();
  ASSERT_TRUE(test::FileExists(browserProfile + "/NativeMessagingHosts/" + kNativeHostName + ".json"));

  const std::string archive = test::MakeContent(200 * 1024 + 3);
  const std::string notes = "Notes of the release.\n";
  test::LoopThread thread;
  test::FaultHttpServer* server = &thread.Make<test::FaultHttpServer>();
  thread.Call([&] {
    server->SetHandler([server, archive, notes](const test::HttpRequest& request) {
      const std::vector<std::string> cookie = {"Set-Cookie: sid=e2e; Path=/"};
      if (request.Target == "/zip.html")
        return test::StatusReply(200, "OK", Page("<a id=get href='/get?id=7' download='Quarterly Report.zip'>zip</a>"),
                                 cookie);
      if (request.Target == "/txt.html")
        return test::StatusReply(200, "OK", Page("<a id=get href='/notes.txt' download>txt</a>"), cookie);
      if (request.Target == "/get?id=7") return test::FileReply(request, archive);
      if (request.Target == "/notes.txt") return test::FileReply(request, notes);
      test::HttpReply reply = server->Serve(request);
      if (request.Target == "/hold.bin") reply.StallAt = {1000};
      return reply;
    });
    server->AddFile("/hold.bin", test::MakeContent(64 * 1024));
  });
  const auto requestsFor = [&](const std::string& target) {
    std::vector<test::HttpRequest> found;
    thread.Call([&] {
      for (const test::HttpRequest& request : server->Requests())
        if (request.Target == target) found.push_back(request);
    });
    return found;
  };

  // The running instance: brindle-cli holding a download of its own open.
  test::CliProcess cli(kBinaryDir + "/src/app/brindle-cli", profile.Path(), logs.Path());
  cli.Start({.Args = {"-q", "-d", downloads.Path(), server->Url("/hold.bin")},
             .Env = {"XDG_DOWNLOAD_DIR=" + downloads.Path()}});
  ASSERT_TRUE(test::WaitFor([&] { return !requestsFor("/hold.bin").empty(); }, 20));

  Chromium browser(chromium, browserProfile, logs.File("chromium.log"));
  ASSERT_TRUE(browser.WaitForExtension()) << test::ReadWholeFile(logs.File("chromium.log"));
  ASSERT_TRUE(browser.Open(server->Url("/zip.html")));
  ASSERT_TRUE(browser.Open(server->Url("/txt.html")));

  // The browser asks once and Brindle fetches the file itself.
  EXPECT_TRUE(test::WaitFor([&] { return requestsFor("/get?id=7").size() >= 2; }, 30))
      << test::ReadWholeFile(logs.File("chromium.log"));
  EXPECT_TRUE(test::WaitFor([&] { return test::ReadWholeFile(browserDownloads + "/notes.txt") == notes; }, 30))
      << test::ReadWholeFile(logs.File("chromium.log"));

  thread.Call([&] { server->Release(); });
  const test::CliOutcome outcome = cli.Wait(30000);
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(downloads.File("Quarterly Report.zip")) == archive);
  EXPECT_FALSE(test::FileExists(downloads.File("notes.txt")));
  for (const test::HttpRequest& request : requestsFor("/get?id=7")) {
    EXPECT_EQ(request.Header("Cookie").value_or(""), "sid=e2e") << request.Raw;
    EXPECT_EQ(request.Header("Referer").value_or(""), server->Url("/zip.html")) << request.Raw;
  }
  // The browser cancelled its own download and erased what it had written.
  std::vector<std::string> kept;
  EXPECT_TRUE(test::WaitFor(
      [&] {
        kept = test::ListFiles(browserDownloads);
        return kept == std::vector<std::string>{"notes.txt"};
      },
      10))
      << ::testing::PrintToString(kept);
}

}  // namespace
}  // namespace brindle
