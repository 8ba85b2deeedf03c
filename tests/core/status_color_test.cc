#include "core/status_color.h"

#include <gtest/gtest.h>

#include "core/status_texts.h"

namespace brindle {
namespace {

TEST(StatusColorTest, GroupsEveryStatusText) {
  using C = TStatusColor;
  const std::pair<const char*, TStatusColor> cases[] = {
      {kStatusContactingHost, C::Downloading},
      {kStatusDownloading, C::Downloading},
      {kStatusResumeNotSupported, C::Downloading},
      {kStatusGettingFileInfo, C::Downloading},
      {kStatusPaused, C::Paused},
      {kStatusScheduled, C::Paused},
      {kStatusQueued, C::Paused},
      {kStatusCombiningFiles, C::Paused},
      {kStatusDone, C::Done},
      {kStatusTimeout, C::Error},
      {kStatusFileNotFound, C::Error},
      {kStatusFilesizeMismatch, C::Error},
      {kStatusCouldNotConnect, C::Error},
      {kStatusLostConnection, C::Error},
      {kStatusCouldNotLogin, C::Error},
      {kStatusCertificateNotTrusted, C::Error},
      {"Couldn't connect to host", C::Error},
      {"done", C::Other},
      {"Done ", C::Other},
      {"", C::Other},
      {"Something else", C::Other},
  };
  for (const auto& [status, color] : cases) EXPECT_EQ(GetStatusColor(status), color) << status;
}

}  // namespace
}  // namespace brindle
