#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "manager/accepted_url.h"
#include "manager/local_download_info.h"
#include "manager/status_bar_totals.h"
#include "manager/temp_directory_cleanup.h"
#include "manager/window_position.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using test::FileExists;
using test::WriteWholeFile;

class MainWindowSupportTest : public test::ManagerTest {
 protected:
  std::string Partial() const { return DefaultPartialDownloadsDirectory(); }
  // A record file under the stem with the given local file and status.
  std::string Record(const std::string& stem, const std::string& local, TDownloadState status) {
    EnsureDirectory(Partial());
    const std::string base = Partial() + "/" + stem;
    TLocalDownloadinfo record(nullptr, base, nullptr);
    record.LocalFileName = local;
    record.SetStatus(status);
    EXPECT_TRUE(record.Save());
    return base;
  }
};

TEST_F(MainWindowSupportTest, CleanUpDropsUselessRecordsAndOnlyOurOwnStrayPartFiles) {
  const std::string present = temp_.File("present.iso");
  WriteWholeFile(present, "x");
  const std::string running = Record("AAAAAAA1", temp_.File("run.iso"), TDownloadState::Downloading);
  WriteWholeFile(running + ".0", "part");
  const std::string noPart = Record("AAAAAAA2", temp_.File("lost.iso"), TDownloadState::Downloading);
  const std::string doneMissing = Record("AAAAAAA3", temp_.File("gone.iso"), TDownloadState::Done);
  const std::string donePresent = Record("AAAAAAA4", present, TDownloadState::Done);
  const std::string duplicate = Record("AAAAAAA5", present, TDownloadState::Paused);
  const std::string unnamed = Record("AAAAAAA6", "", TDownloadState::Paused);
  WriteWholeFile(Partial() + "/ZZZZZZZ9.1024", "stray");
  WriteWholeFile(Partial() + "/abc.12", "a user's");
  WriteWholeFile(Partial() + "/abc.txt", "a user's");
  WriteWholeFile(Partial() + "/backup.001", "a user's");

  CleanUpTempDirectory(nullptr);

  EXPECT_TRUE(FileExists(running + ".dat"));
  EXPECT_TRUE(FileExists(running + ".0"));
  EXPECT_FALSE(FileExists(noPart + ".dat"));
  EXPECT_FALSE(FileExists(doneMissing + ".dat"));
  EXPECT_TRUE(FileExists(donePresent + ".dat"));
  // The first record of a local file keeps it (in listing order, which
  // here is either): exactly one of the two survives.
  EXPECT_NE(FileExists(donePresent + ".dat"), FileExists(duplicate + ".dat"));
  EXPECT_FALSE(FileExists(unnamed + ".dat"));
  EXPECT_FALSE(FileExists(Partial() + "/ZZZZZZZ9.1024"));
  EXPECT_TRUE(FileExists(Partial() + "/abc.12"));
  EXPECT_TRUE(FileExists(Partial() + "/abc.txt"));
  EXPECT_TRUE(FileExists(Partial() + "/backup.001"));

  WriteBool(kOptionsSection, "RemoveUnexistingFilesFromList", false);
  const std::string kept = Record("AAAAAAA7", temp_.File("gone2.iso"), TDownloadState::Done);
  CleanUpTempDirectory(nullptr);
  EXPECT_TRUE(FileExists(kept + ".dat"));
}

TEST_F(MainWindowSupportTest, OwnPartFileNames) {
  for (const char* name : {"ABCDEFGH.0", "0A1B2C3D.1048576", "abcdefgh.12"}) EXPECT_TRUE(IsOwnPartFileName(name)) << name;
  for (const char* name : {"ABCDEFGH.dat", "ABCDEFGH.", "ABCDEFG.0", "ABCDEFGHI.0", "backup.001", "ABC-EFGH.1",
                           "ABCDEFGH.1.2", "ABCDEFGH"})
    EXPECT_FALSE(IsOwnPartFileName(name)) << name;
}

TEST_F(MainWindowSupportTest, StatusBarTotals) {
  EXPECT_EQ(TotalSpeedText({}), "0.0 kb/s");
  EXPECT_EQ(TotalTimeLeft({}), "00:00:00");
  const std::vector<TRunningDownload> running = {
      {TDownloadState::Downloading, "12.5", "00:01:00"},
      {TDownloadState::Downloading, "N/A", "N/A"},
      {TDownloadState::Downloading, " ", "01:00:00"},
      {TDownloadState::Downloading, "3,25", "00:00:30"},
      {TDownloadState::ContactingHost, "100.0", "00:00:10"},
  };
  EXPECT_EQ(TotalSpeedText(running), "15.8 kb/s");
  EXPECT_EQ(TotalTimeLeft(running), "01:00:00");
}

TEST_F(MainWindowSupportTest, WindowPositionRoundTripsAndKeepsNormalBoundsWhenMaximized) {
  EXPECT_EQ(LoadPosition("Form_Main Position"), TWindowPlacement{});
  SavePosition("Form_Main Position", TWindowPlacement{20, 30, 700, 500, false, false});
  EXPECT_EQ(LoadPosition("Form_Main Position"), (TWindowPlacement{20, 30, 700, 500, false, false}));
  SavePosition("Form_Main Position", TWindowPlacement{0, 0, 1920, 1080, true, false});
  EXPECT_EQ(LoadPosition("Form_Main Position"), (TWindowPlacement{20, 30, 700, 500, true, false}));

  TWindowPlacement off{2000, 30, 700, 500, false, false};
  MakeSureFormIsOnScreen(off, 1920, 1080);
  EXPECT_EQ(off.Left, 1);
  EXPECT_EQ(off.Top, 1);
  TWindowPlacement on{1900, 1000, 700, 500, false, false};
  MakeSureFormIsOnScreen(on, 1920, 1080);
  EXPECT_EQ(on.Left, 1900);
}

TEST_F(MainWindowSupportTest, DownloadableAddresses) {
  struct Case {
    const char* Text;
    const char* Plain;    // as typed or from the command line; "" refused
    const char* Dropped;  // a drop needs a file name
  };
  for (const Case& c : std::vector<Case>{
           {"http://example.org/a.zip", "http://example.org/a.zip", "http://example.org/a.zip"},
           {"  https://example.org/a.zip \r\n", "https://example.org/a.zip", "https://example.org/a.zip"},
           {"ftp://example.org/pub/", "ftp://example.org/pub/", ""},
           {"http://example.org/pub/.", "http://example.org/pub/.", ""},  // names no file
           {"http://example.org/pub/..", "http://example.org/pub/..", ""},
           {"FTP://u:p@example.org/pub/a.tar", "FTP://u:p@example.org/pub/a.tar", "FTP://u:p@example.org/pub/a.tar"},
           {"www.example.org/f.zip", "http://www.example.org/f.zip", "http://www.example.org/f.zip"},
           {"ftp.example.org/pub/a.tar", "ftp://ftp.example.org/pub/a.tar", "ftp://ftp.example.org/pub/a.tar"},
           {"www.example.org", "http://www.example.org", ""},
           {"wwwhat", "", ""},
           {"example.org/f.zip", "", ""},
           {"gopher://example.org/a.zip", "", ""},
           {"http:///a.zip", "", ""},
           {"mailto:someone@example.org", "", ""},
           {"file:///etc/passwd", "", ""},
           {"just words", "", ""},
           {"", "", ""}}) {
    EXPECT_EQ(DownloadableAddress(c.Text, false), c.Plain) << c.Text;
    EXPECT_EQ(DownloadableAddress(c.Text, true), c.Dropped) << c.Text;
  }
  EXPECT_EQ(RefusedAddressText(" example.org/f.zip "),
            "\"example.org/f.zip\" is not an address Brindle can download. An address begins with http://, "
            "https:// or ftp:// (or www.) and names a server.");
  EXPECT_EQ(RefusedAddressText("  "), "Please enter the address of the file to download.");
}

}  // namespace
}  // namespace brindle
