#include "integration/monitor_clipboard.h"

#include <algorithm>

#include "core/extension_mask.h"
#include "core/log_error.h"
#include "core/timer.h"
#include "core/url.h"
#include "manager/accepted_url.h"
#include "manager/download_system.h"
#include "manager/ignored_links.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; }

// The address alone, without the line end or blanks that copying from a
// terminal or a text often brings along; empty when blanks or control
// characters remain inside (a sentence, not an address).
std::string AddressIn(const std::string& text) {
  const auto first = std::find_if_not(text.begin(), text.end(), IsBlankOrControl);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlankOrControl).base();
  if (first >= last) return {};
  std::string address(first, last);
  return std::any_of(address.begin(), address.end(), IsBlankOrControl) ? std::string() : address;
}

}  // namespace

TMonitorClipboard::TMonitorClipboard(TDownloadSystem& system, TClipboardText clipboard, EventLoop* loop)
    : system_(system), clipboard_(std::move(clipboard)), timer_(std::make_unique<TTimer>(loop)) {
  timer_->SetInterval(kCheckIntervalMs);
  timer_->OnTimer = [this] { Check(); };
  try {
    if (clipboard_)
      if (std::optional<std::string> text = clipboard_()) lastText_ = std::move(*text);
  } catch (...) {
    LogError("TMonitorClipboard.Create");
  }
}

TMonitorClipboard::~TMonitorClipboard() = default;

void TMonitorClipboard::Enable() { timer_->SetEnabled(true); }

void TMonitorClipboard::Disable() { timer_->SetEnabled(false); }

bool TMonitorClipboard::Enabled() const { return timer_->Enabled(); }

void TMonitorClipboard::Check() {
  try {
    std::optional<std::string> text = clipboard_ ? clipboard_() : std::nullopt;
    if (!text || *text == lastText_) return;
    lastText_ = std::move(*text);
    const std::string address = DownloadableAddress(AddressIn(lastText_), true);
    if (address.empty() || IsIgnoredLink(address)) return;
    auto url = std::make_unique<TUrl>(address);
    if (!ValidExtension(url->Extension)) return;
    // No dialog: the name is chosen as for any download nobody is asked about.
    system_.AddDownload(std::make_unique<TLocalDownloadinfo>(std::move(url), system_.NewTempFileName(), nullptr),
                        false);
  } catch (...) {
    LogError("TMonitorClipboard.OnTimer");
  }
}

}  // namespace brindle
