#include "core/download_status.h"

#include <array>

namespace brindle {
namespace {

struct TStateInfo {
  TDownloadState State;
  std::string Text;
  TStatusColor Color;
};

// Texts and colour groups of every state but Failed, whose text is its words.
const std::array<TStateInfo, 21>& States() {
  using S = TDownloadState;
  using C = TStatusColor;
  static const std::array<TStateInfo, 21> states = {{
      {S::Unset, "", C::Other},
      {S::Idle, "Idle", C::Other},
      {S::ContactingHost, "Contacting host", C::Downloading},
      {S::GettingFileInfo, "Getting file info", C::Downloading},
      {S::Downloading, "Downloading", C::Downloading},
      {S::ResumeNotSupported, "Resume is not supported", C::Downloading},
      {S::Queued, "Queued", C::Paused},
      {S::Scheduled, "Scheduled", C::Paused},
      {S::Paused, "Paused", C::Paused},
      {S::CombiningFiles, "Combining files", C::Paused},
      {S::Done, "Done", C::Done},
      {S::Timeout, "Timeout", C::Error},
      {S::FileNotFound, "File not found", C::Error},
      {S::FilesizeMismatch, "Filesize mismatch", C::Error},
      {S::CouldNotConnect, "Couldn't connect to host", C::Error},
      {S::LostConnection, "Lost connection to server", C::Error},
      {S::CouldNotLogin, "Couldn't login", C::Error},
      {S::CertificateNotTrusted, "Certificate not trusted", C::Error},
      {S::HostNotFound, "Host not found", C::Error},
      {S::HeaderTooLong, "HTTP header too long", C::Error},
      {S::ChecksumMismatch, "Checksum mismatch", C::Error},
  }};
  return states;
}

const TStateInfo& InfoOf(TDownloadState state) {
  for (const TStateInfo& info : States())
    if (info.State == state) return info;
  return States()[0];
}

}  // namespace

// A failure needs its words (Failure); without them it is no status.
TDownloadStatus::TDownloadStatus(TDownloadState state)
    : state_(state == TDownloadState::Failed ? TDownloadState::Unset : state) {}

TDownloadStatus TDownloadStatus::Failure(std::string words) {
  TDownloadStatus status = FromText(words);
  if (status.state_ != TDownloadState::Unset) return status;
  status.state_ = TDownloadState::Failed;
  status.words_ = std::move(words);
  return status;
}

TDownloadStatus TDownloadStatus::ChecksumMismatch(const std::string& detail) {
  TDownloadStatus status(TDownloadState::ChecksumMismatch);
  status.words_ = status.Text() + " (" + detail + ")";
  return status;
}

TDownloadStatus TDownloadStatus::FromText(std::string_view text) {
  for (const TStateInfo& info : States())
    if (info.Text == text) return TDownloadStatus(info.State);
  TDownloadStatus status;
  status.state_ = text.starts_with(StatusText(TDownloadState::ChecksumMismatch) + " (") && text.ends_with(")")
                      ? TDownloadState::ChecksumMismatch
                      : TDownloadState::Failed;
  status.words_ = std::string(text);
  return status;
}

const std::string& TDownloadStatus::Text() const { return words_.empty() ? InfoOf(state_).Text : words_; }

bool TDownloadStatus::Running() const {
  return state_ == TDownloadState::ContactingHost || state_ == TDownloadState::GettingFileInfo ||
         state_ == TDownloadState::Downloading;
}

TStatusColor TDownloadStatus::Color() const {
  return state_ == TDownloadState::Failed ? TStatusColor::Other : InfoOf(state_).Color;
}

TDownloadStatus TDownloadStatus::Saved() const {
  if (Running()) return TDownloadState::Downloading;
  if (Color() == TStatusColor::Error && state_ != TDownloadState::ChecksumMismatch) return TDownloadState::Paused;
  return *this;
}

}  // namespace brindle
