#include "integration/browser_host.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "core/ascii_case.h"
#include "core/clock.h"
#include "core/extension_mask.h"
#include "core/settings_schema.h"
#include "core/url.h"
#include "integration/native_message_reader.h"
#include "manager/ignored_links.h"

namespace brindle {
namespace {

const TBoolSetting& BrowserSetting(TBrowserFamily browser) {
  switch (browser) {
    case TBrowserFamily::Firefox:
      return setting::IntegrateWithNetscape;
    case TBrowserFamily::Opera:
      return setting::IntegrateWithOpera;
    case TBrowserFamily::Chromium:
      break;
  }
  return setting::IntegrateWithInternetExplorer;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t count = write(fd, data.data() + done, data.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

bool TBrowserHost::Takes(const TBrowserRequest& request, std::string& reason) {
  const TUrl url(request.Url);
  if ((url.Protocol != "http" && url.Protocol != "https" && url.Protocol != "ftp") ||
      !StartsWithIgnoringCase(request.Url, url.Protocol + "://")) {
    reason = "not an http, https or ftp address";
    return false;
  }
  if (url.Host.empty()) {
    reason = "no host in the address";
    return false;
  }
  // The browser then fetches it itself, as for any address not taken.
  if (IsIgnoredLink(request.Url)) {
    reason = "the address is on Brindle's ignore list";
    return false;
  }
  if (request.Type == TBrowserRequest::TType::Link) return true;
  if (!Read(setting::EnableBrowserIntegration)) {
    reason = "browser integration is off";
    return false;
  }
  if (!Read(BrowserSetting(request.Browser))) {
    reason = "integration with this browser is off";
    return false;
  }
  const std::string name = request.FileName.empty() ? url.FileName : request.FileName;
  const size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : LowerCaseAscii(name.substr(dot + 1));
  if (!ValidExtension(extension)) {
    reason = "the file type is not in the list Brindle handles";
    return false;
  }
  return true;
}

bool TBrowserHost::Deliver(const THandOverRequest& request) {
  if (!HandOver) return false;
  if (HandOver(request)) return true;
  if (!StartProgram || !StartProgram()) return false;
  Clock& clock = WaitClock ? *WaitClock : ProgramClock();
  const int64_t until = clock.MonotonicMs() + kStartWaitMs;
  for (;;) {
    if (HandOver(request)) return true;
    if (clock.MonotonicMs() >= until) return false;
    if (Pause) {
      Pause(kPollMs);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
  }
}

std::string TBrowserHost::Answer(const TBrowserRequest& request) {
  std::string reason;
  if (!Takes(request, reason)) return EncodeBrowserAnswer(false, reason);
  THandOverRequest handOver;
  handOver.Structured = true;
  handOver.Url = request.Url;
  handOver.FileName = request.FileName;
  handOver.Referrer = request.Referrer;
  handOver.Cookies = request.Cookies;
  if (!Deliver(handOver)) return EncodeBrowserAnswer(false, "Brindle could not be reached");
  return EncodeBrowserAnswer(true, "");
}

int TBrowserHost::Run(int inFd, int outFd, std::string& error) {
  TNativeMessageReader reader;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = read(inFd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error = "cannot read the browser's messages";
      return 1;
    }
    if (count == 0) {
      if (!reader.HasPartial()) return 0;
      error = "the input ended inside a message";
      return 1;
    }
    reader.Feed(std::string_view(buffer, static_cast<size_t>(count)));
    std::string message;
    for (;;) {
      const TNativeMessageReader::TResult result = reader.Next(message);
      if (result == TNativeMessageReader::TResult::NeedMore) break;
      if (result == TNativeMessageReader::TResult::Invalid) {
        error = reader.Error();
        return 1;
      }
      std::string why;
      const std::optional<TBrowserRequest> request = DecodeBrowserRequest(message, why);
      if (!request) {
        error = "malformed message: " + why;
        return 1;
      }
      if (!WriteAll(outFd, FrameNativeMessage(Answer(*request)))) {
        error = "cannot write the answer";
        return 1;
      }
    }
  }
}

}  // namespace brindle
