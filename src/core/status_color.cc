#include "core/status_color.h"

#include "core/status_texts.h"

namespace brindle {

TStatusColor GetStatusColor(const std::string& status) {
  struct Group {
    TStatusColor Color;
    const char* Texts[7];
  };
  static const Group kGroups[] = {
      {TStatusColor::Downloading,
       {kStatusContactingHost, kStatusDownloading, kStatusResumeNotSupported, kStatusGettingFileInfo}},
      {TStatusColor::Paused, {kStatusPaused, kStatusScheduled, kStatusQueued, kStatusCombiningFiles}},
      {TStatusColor::Done, {kStatusDone}},
      {TStatusColor::Error,
       {kStatusTimeout, kStatusFileNotFound, kStatusFilesizeMismatch, kStatusCouldNotConnect,
        kStatusLostConnection, kStatusCouldNotLogin, kStatusCertificateNotTrusted}},
  };
  for (const Group& group : kGroups) {
    for (const char* text : group.Texts) {
      if (text != nullptr && status == text) return group.Color;
    }
  }
  return TStatusColor::Other;
}

}  // namespace brindle
