#pragma once

#include <memory>
#include <string>

#include "browser_process.h"

namespace brindle::test {

// Headless Chromium with the unpacked extension, driven over its DevTools
// pipe (commands on fd 3, answers on fd 4, NUL-separated JSON) only to
// learn when the extension listens and to open pages.
class HeadlessChromium {
 public:
  HeadlessChromium(const std::string& binary, const std::string& profile, const std::string& extension,
                   const std::string& log);
  ~HeadlessChromium();
  HeadlessChromium(const HeadlessChromium&) = delete;
  HeadlessChromium& operator=(const HeadlessChromium&) = delete;

  // Waits until the extension's service worker runs and has its listener
  // for new downloads: before that, Chromium would keep a download itself.
  bool WaitForExtension();
  // A page in a tab of its own: Chromium allows each tab one download
  // without a user's gesture.
  bool Open(const std::string& url);

 private:
  // A DevTools command's answer; "" when none came in time or the browser
  // went away.
  std::string Send(const std::string& method, const std::string& params, const std::string& session = "");

  std::unique_ptr<BrowserProcess> process_;
  int in_ = -1;
  int out_ = -1;
  int lastId_ = 0;
  std::string buffer_;
};

}  // namespace brindle::test
