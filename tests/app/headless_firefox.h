#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "browser_process.h"
#include "web_socket_client.h"

namespace brindle::test {

// Headless Firefox on a fresh profile, driven over WebDriver BiDi only to
// install the extension and to open pages.
class HeadlessFirefox {
 public:
  // Firefox saves what it keeps into downloads, without asking.
  HeadlessFirefox(const std::string& binary, const std::string& profile, const std::string& downloads,
                  const std::string& log);

  // Opens a session and installs the unpacked extension as a temporary
  // add-on, the way a user loads it from about:debugging. Firefox starts its
  // background script before it answers, so the listeners are there then.
  bool InstallExtension(const std::string& folder);
  // A page in a tab of its own.
  bool Open(const std::string& url);

 private:
  // The result of a command; null when it failed, no answer came in time
  // or the browser went away.
  nlohmann::json Send(const std::string& method, const nlohmann::json& params);

  std::string log_;
  std::unique_ptr<BrowserProcess> process_;
  WebSocketClient socket_;
  int lastId_ = 0;
};

}  // namespace brindle::test
