#include "headless_firefox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "support/cli_process.h"
#include "support/temp_dir.h"

namespace brindle::test {
namespace {

const std::string kListening = "WebDriver BiDi listening on ws://127.0.0.1:";

}  // namespace

HeadlessFirefox::HeadlessFirefox(const std::string& binary, const std::string& profile,
                                 const std::string& downloads, const std::string& log)
    : log_(log) {
  std::filesystem::create_directories(profile);
  // The remote agent sets what automation needs (no updates, no first-run
  // pages, no telemetry). Nothing about the add-on's permissions is set:
  // Firefox grants a Manifest V3 add-on its host permissions at install, as
  // it does for a user.
  WriteWholeFile(profile + "/user.js",
                 "user_pref(\"browser.download.folderList\", 2);\n"
                 "user_pref(\"browser.download.dir\", \"" +
                     downloads +
                     "\");\n"
                     "user_pref(\"browser.download.useDownloadDir\", true);\n"
                     "user_pref(\"browser.download.always_ask_before_handling_new_types\", false);\n");
  process_ = std::make_unique<BrowserProcess>(
      std::vector<std::string>{binary, "--headless", "--no-remote", "--profile", profile, "--remote-debugging-port=0",
                               "about:blank"},
      log);
}

nlohmann::json HeadlessFirefox::Send(const std::string& method, const nlohmann::json& params) {
  const int id = ++lastId_;
  if (!socket_.SendText(nlohmann::json{{"id", id}, {"method", method}, {"params", params}}.dump())) return nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (const std::optional<std::string> message = socket_.Receive(deadline)) {
    const nlohmann::json answer = nlohmann::json::parse(*message, nullptr, false);
    if (!answer.is_object() || !answer.contains("id") || answer["id"] != id) continue;
    if (answer.value("type", "") != "success") {
      ADD_FAILURE() << method << ": " << *message;
      return nullptr;
    }
    return answer.value("result", nlohmann::json::object());
  }
  return nullptr;
}

bool HeadlessFirefox::InstallExtension(const std::string& folder) {
  int port = 0;
  const bool listening = WaitFor(
      [&] {
        const std::string log = ReadWholeFile(log_);
        const size_t at = log.find(kListening);
        if (at != std::string::npos) port = std::atoi(log.c_str() + at + kListening.size());
        return port > 0;
      },
      60);
  if (!listening || !socket_.Connect(port, "/session", std::chrono::steady_clock::now() + std::chrono::seconds(30)))
    return false;
  if (Send("session.new", {{"capabilities", nlohmann::json::object()}}).is_null()) return false;
  return !Send("webExtension.install", {{"extensionData", {{"type", "path"}, {"path", folder}}}}).is_null();
}

bool HeadlessFirefox::Open(const std::string& url) {
  const nlohmann::json tab = Send("browsingContext.create", {{"type", "tab"}});
  if (!tab.is_object() || !tab.contains("context")) return false;
  return !Send("browsingContext.navigate", {{"context", tab["context"]}, {"url", url}, {"wait", "none"}}).is_null();
}

}  // namespace brindle::test
