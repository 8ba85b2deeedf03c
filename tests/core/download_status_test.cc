#include "core/download_status.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

// Every text a record file can hold reads back as its state and is written
// back unchanged (a server's own words included), with its colour group and
// what a save keeps of it; old record files load as they always did.
TEST(DownloadStatusTest, EveryRecordTextRoundTripsWithItsStateColourAndSavedText) {
  using S = TDownloadState;
  using C = TStatusColor;
  struct Case {
    const char* Text;
    TDownloadState State;
    TStatusColor Color;
    const char* Saved;
  };
  const Case cases[] = {
      {"Contacting host", S::ContactingHost, C::Downloading, "Downloading"},
      {"Getting file info", S::GettingFileInfo, C::Downloading, "Downloading"},
      {"Downloading", S::Downloading, C::Downloading, "Downloading"},
      {"Resume is not supported", S::ResumeNotSupported, C::Downloading, "Resume is not supported"},
      {"Queued", S::Queued, C::Paused, "Queued"},
      {"Scheduled", S::Scheduled, C::Paused, "Scheduled"},
      {"Paused", S::Paused, C::Paused, "Paused"},
      {"Combining files", S::CombiningFiles, C::Paused, "Combining files"},
      {"Done", S::Done, C::Done, "Done"},
      {"Timeout", S::Timeout, C::Error, "Paused"},
      {"File not found", S::FileNotFound, C::Error, "Paused"},
      {"Filesize mismatch", S::FilesizeMismatch, C::Error, "Paused"},
      {"Couldn't connect to host", S::CouldNotConnect, C::Error, "Paused"},
      {"Lost connection to server", S::LostConnection, C::Error, "Paused"},
      {"Couldn't login", S::CouldNotLogin, C::Error, "Paused"},
      {"Certificate not trusted", S::CertificateNotTrusted, C::Error, "Paused"},
      {"Host not found", S::HostNotFound, C::Error, "Paused"},
      {"HTTP header too long", S::HeaderTooLong, C::Error, "Paused"},
      // Final: nothing is left to resume, and the record keeps saying why.
      {"Checksum mismatch (expected md5=00, got 11)", S::ChecksumMismatch, C::Error,
       "Checksum mismatch (expected md5=00, got 11)"},
      {"", S::Unset, C::Other, ""},
      {"Idle", S::Idle, C::Other, "Idle"},
      // A server's reason phrase, and texts that only look like states.
      {"Forbidden", S::Failed, C::Other, "Forbidden"},
      {"Can't write the part file (No space left on device)", S::Failed, C::Other,
       "Can't write the part file (No space left on device)"},
      {"done", S::Failed, C::Other, "done"},
      {"Done ", S::Failed, C::Other, "Done "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const TDownloadStatus status = TDownloadStatus::FromText(c.Text);
    EXPECT_EQ(status.State(), c.State);
    EXPECT_EQ(status.Text(), c.Text);
    EXPECT_EQ(status.Color(), c.Color);
    EXPECT_EQ(status.Saved().Text(), c.Saved);
    if (c.State != S::Failed && c.State != S::ChecksumMismatch) {
      EXPECT_EQ(TDownloadStatus(c.State).Text(), c.Text);
    }
  }
  // A failure told in a state's own words is that state.
  EXPECT_EQ(TDownloadStatus::Failure("File not found").State(), S::FileNotFound);
  EXPECT_TRUE(TDownloadStatus::Failure("Forbidden") == TDownloadStatus::FromText("Forbidden"));
  EXPECT_EQ(TDownloadStatus::ChecksumMismatch("expected md5=00, got 11").Text(),
            "Checksum mismatch (expected md5=00, got 11)");
}

}  // namespace
}  // namespace brindle
