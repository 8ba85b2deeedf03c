#pragma once

#include <string_view>

namespace brindle {

// The state of a download as the user sees it; records store these texts
// and every part of the program compares them exactly.
inline constexpr const char* kStatusContactingHost = "Contacting host";
inline constexpr const char* kStatusGettingFileInfo = "Getting file info";
inline constexpr const char* kStatusDownloading = "Downloading";
inline constexpr const char* kStatusQueued = "Queued";
inline constexpr const char* kStatusScheduled = "Scheduled";
inline constexpr const char* kStatusPaused = "Paused";
inline constexpr const char* kStatusCombiningFiles = "Combining files";
inline constexpr const char* kStatusDone = "Done";
inline constexpr const char* kStatusResumeNotSupported = "Resume is not supported";

// Error states.
inline constexpr const char* kStatusTimeout = "Timeout";
inline constexpr const char* kStatusFileNotFound = "File not found";
inline constexpr const char* kStatusFilesizeMismatch = "Filesize mismatch";
inline constexpr const char* kStatusCouldNotConnect = "Couldn't connect to host";
inline constexpr const char* kStatusLostConnection = "Lost connection to server";
inline constexpr const char* kStatusCouldNotLogin = "Couldn't login";
inline constexpr const char* kStatusCertificateNotTrusted = "Certificate not trusted";

// A download in one of these states runs: something must always be
// pending that moves it on.
inline bool IsRunningStatus(std::string_view status) {
  return status == kStatusDownloading || status == kStatusContactingHost || status == kStatusGettingFileInfo;
}

}  // namespace brindle
