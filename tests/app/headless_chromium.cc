#include "headless_chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "integration/browser_integration.h"
#include "support/cli_process.h"

namespace brindle::test {
namespace {

// The value of the first "key":"value" in json, enough for DevTools' answers.
std::string StringField(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const size_t at = json.find(marker);
  if (at == std::string::npos) return "";
  const size_t begin = at + marker.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

}  // namespace

HeadlessChromium::HeadlessChromium(const std::string& binary, const std::string& profile,
                                   const std::string& extension, const std::string& log) {
  int commands[2], answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) return;
  // Above 4, so that the child's dup2 onto 3 and 4 never meets itself.
  const int childIn = fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
  const int childOut = fcntl(answers[1], F_DUPFD_CLOEXEC, 10);
  close(commands[0]);
  close(answers[1]);
  in_ = commands[1];
  out_ = answers[0];
  process_ = std::make_unique<BrowserProcess>(
      std::vector<std::string>{binary, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update",
                               "--disable-features=DisableLoadExtensionCommandLineSwitch", "--remote-debugging-pipe",
                               "--user-data-dir=" + profile, "--load-extension=" + extension,
                               "--disable-extensions-except=" + extension, "about:blank"},
      log, std::vector<int>{childIn, childOut});
  close(childIn);
  close(childOut);
}

HeadlessChromium::~HeadlessChromium() {
  close(in_);
  close(out_);
}

std::string HeadlessChromium::Send(const std::string& method, const std::string& params, const std::string& session) {
  const int id = ++lastId_;
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
  if (!session.empty()) message += ",\"sessionId\":\"" + session + "\"";
  message += "}";
  message.push_back('\0');
  if (write(in_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "";
  const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
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

bool HeadlessChromium::WaitForExtension() {
  const std::string worker = std::string("chrome-extension://") + kChromiumExtensionId + "/";
  std::string target;
  const bool found = WaitFor(
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
  return WaitFor(
      [&] {
        const std::string answer = Send(
            "Runtime.evaluate", R"js({"expression":"chrome.downloads.onDeterminingFilename.hasListeners()"})js", session);
        return answer.find("\"value\":true") != std::string::npos;
      },
      30);
}

bool HeadlessChromium::Open(const std::string& url) {
  return !StringField(Send("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId").empty();
}

}  // namespace brindle::test
