#include "integration/version_checker.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/owned_callback.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/system_proxy.h"
#include "core/url.h"
#include "core/version.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"
#include "net/http_cli.h"
#include "platform/shell.h"

namespace brindle {
namespace {

// Only the first line of the version file counts: a server that sends
// without end is cut off here instead of filling the memory.
constexpr size_t kMaxVersionFileBytes = 64 * 1024;

class TBoundedReceiveStream final : public TReceiveStream {
 public:
  bool Write(const char* data, size_t size) override {
    const size_t room = kMaxVersionFileBytes - Data.size();
    Data.append(data, std::min(size, room));
    return size <= room;
  }
  std::string Data;
};

std::string FirstLine(const std::string& data) { return data.substr(0, data.find_first_of("\r\n")); }

// Fields 1 to 3 of the line, each up to its "#"; a field without its "#" is
// empty.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t hash = start <= line.size() ? line.find('#', start) : std::string::npos;
    if (hash == std::string::npos) {
      fields.emplace_back();
      start = line.size() + 1;
    } else {
      fields.push_back(line.substr(start, hash - start));
      start = hash + 1;
    }
  }
  return fields;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A decimal number "digits[.digits]" as its integer part without leading
// zeros and its fraction without trailing zeros, so that both compare as text.
std::optional<std::pair<std::string_view, std::string_view>> DecimalParts(std::string_view number) {
  const size_t dot = number.find('.');
  std::string_view whole = number.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
  const auto digits = [](std::string_view t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || !digits(whole) || !digits(fraction)) return std::nullopt;
  if (dot != std::string_view::npos && fraction.empty()) return std::nullopt;
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  return std::make_pair(whole, fraction);
}

}  // namespace

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
  const auto left = DecimalParts(TrimBlanks(a));
  const auto right = DecimalParts(TrimBlanks(b));
  if (!left || !right) return std::nullopt;
  // Integer parts: the longer is larger; fractions: as text, digit by digit.
  if (left->first.size() != right->first.size()) return left->first.size() < right->first.size() ? -1 : 1;
  if (const int c = left->first.compare(right->first); c != 0) return c < 0 ? -1 : 1;
  const int c = left->second.compare(right->second);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

TVersionChecker::TVersionChecker(TDownloadSystem& system, EventLoop* loop)
    : CurrentVersion(BrindleVersion()), system_(system), loop_(loop ? loop : EventLoop::Current()) {}

TVersionChecker::~TVersionChecker() { CancelCallbacks(this); }

void TVersionChecker::Check() {
  try {
    if (client_) return;
    const std::string address = Read(setting::UpdateURL);
    if (address.empty()) return;
    auto client = std::make_unique<THttpCli>(loop_);
    const TProxyServer proxy = HttpProxyFor(TUrl(address), TSettingsReader());
    client->Proxy = proxy.Host;
    client->ProxyPort = proxy.Port;
    client->ProxyUsername = proxy.User;
    client->ProxyPassword = proxy.Password;
    client->URL = address;
    stream_ = std::make_unique<TBoundedReceiveStream>();
    client->RcvdStream = stream_.get();
    client->OnRequestDone = [this](THttpRequest, int) { RequestDone(); };
    client_ = std::move(client);
    client_->GetASync();
  } catch (...) {
    client_.reset();
    stream_.reset();
    LogError("TVersionChecker.Check");
  }
}

bool TVersionChecker::CheckIfDue(TDateTime now) {
  if (!Read(setting::CheckForUpdates)) return false;
  const int64_t today = static_cast<int64_t>(std::floor(now));
  if (today - Read(setting::LastCheckedForUpdate) < kDaysBetweenChecks) return false;
  Write(setting::LastCheckedForUpdate, static_cast<int>(std::lround(now)));
  Check();
  return true;
}

void TVersionChecker::RequestDone() {
  try {
    const std::string data = std::move(static_cast<TBoundedReceiveStream&>(*stream_).Data);
    client_->RcvdStream = nullptr;
    loop_->DeleteLater(std::move(client_));
    stream_.reset();
    if (data.empty()) return;

    const std::vector<std::string> fields = Fields(FirstLine(data));
    const std::string latest(TrimBlanks(fields[0]));
    const std::optional<int> order = CompareVersions(latest, CurrentVersion);
    if (!order) return;
    if (*order <= 0) {
      if (OnStatusText) OnStatusText(kLatestVersionText);
      return;
    }
    const std::string question = "Version " + latest + " of Brindle has been released. \nNew in this version: \n" +
                                 fields[2] + "\nDownload it now?";
    const std::string address(TrimBlanks(fields[1]));
    Prompt().Ask("Brindle", question, OwnedCallback<bool>(this, [this, address](bool yes) { Answered(yes, address); }));
  } catch (...) {
    LogError("TVersionChecker.OnRequestDone");
  }
}

void TVersionChecker::Answered(bool yes, const std::string& address) {
  try {
    if (!yes) return;
    auto url = std::make_unique<TUrl>(address);
    // Compared exactly: "setup.EXE" is opened in the browser.
    if (url->Extension == "exe") {
      system_.AddDownload(std::make_unique<TLocalDownloadinfo>(std::move(url), system_.NewTempFileName(), nullptr));
      return;
    }
    // The answer comes over plain HTTP: only a web page is opened, never a
    // local file or another kind of address the desktop would act on.
    if (url->Protocol == "http" || url->Protocol == "https") Callbrowser(address);
  } catch (...) {
    LogError("TVersionChecker.Answered");
  }
}

}  // namespace brindle
