#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// Every state a download (or one of its parts) can be in.
enum class TDownloadState : uint8_t {
  Unset,               // a new record, not started yet
  Idle,                // a part that has not started (parts only)
  ContactingHost,
  GettingFileInfo,
  Downloading,
  ResumeNotSupported,  // the server cannot continue from a position
  Queued,              // waits for a free download place
  Scheduled,           // waits for the scheduler's window
  Paused,
  CombiningFiles,
  Done,
  Timeout,
  FileNotFound,
  FilesizeMismatch,
  CouldNotConnect,
  LostConnection,
  CouldNotLogin,
  CertificateNotTrusted,
  HostNotFound,       // the name lookup failed
  HeaderTooLong,      // an answer's header over the client's limit
  // The finished file lacks the digest the user or the server gave; its
  // bytes are kept beside it. Told with both digests.
  ChecksumMismatch,
  Failed,  // any other failure, told in its own words (a server's reason phrase)
};

// The colour group a status is drawn in; the theme gives each its colour.
enum class TStatusColor { Downloading, Paused, Done, Error, Other };

// A download's status: its state, and for a failure of its own kind or a
// checksum mismatch the words that tell it. Text() is what the windows show
// and the record files hold; this is the one place that maps states to and
// from those texts.
class TDownloadStatus {
 public:
  TDownloadStatus() = default;
  // Any state but Failed, which needs its words.
  TDownloadStatus(TDownloadState state);  // NOLINT: a state is a status
  static TDownloadStatus Failure(std::string words);
  // "Checksum mismatch (" + detail + ")".
  static TDownloadStatus ChecksumMismatch(const std::string& detail);
  // The status a record file's (or a window's) text stands for: a state's
  // own text, else a failure told in those words; "" is Unset.
  static TDownloadStatus FromText(std::string_view text);

  TDownloadState State() const { return state_; }
  const std::string& Text() const;

  bool operator==(TDownloadState state) const { return state_ == state; }
  bool operator==(const TDownloadStatus& other) const { return state_ == other.state_ && Text() == other.Text(); }

  // A transfer is under way: contacting, getting file info, downloading.
  bool Running() const;
  TStatusColor Color() const;
  // What a record file keeps: a running state reads back as Downloading
  // (which loading pauses), one of the error states as Paused; every other
  // status as it is, a checksum mismatch too (its parts are gone: nothing
  // resumes it, and it keeps telling what failed).
  TDownloadStatus Saved() const;

 private:
  TDownloadState state_ = TDownloadState::Unset;
  std::string words_;  // Failed and ChecksumMismatch only
};

// The text of a state (any but Failed).
inline const std::string& StatusText(TDownloadState state) { return TDownloadStatus(state).Text(); }

}  // namespace brindle
