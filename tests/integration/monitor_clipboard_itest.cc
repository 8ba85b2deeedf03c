#include "integration/monitor_clipboard.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/paths.h"
#include "manager/ignored_links.h"
#include "integration_test_support.h"

namespace brindle {
namespace {

class MonitorClipboardITest : public test::IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    WriteString(kOptionsSection, "Extensions", kDefaultExtensionList);
    WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 20);
    HoldEveryAnswer();
  }
  void TearDown() override {
    monitor_.reset();
    IntegrationTest::TearDown();
  }
  void MakeMonitor() {
    monitor_ = std::make_unique<TMonitorClipboard>(*system_, [this] { return clipboard_; }, &loop_);
    monitor_->Enable();
  }
  // The user copies text (nullopt: something that is not text); a second
  // later the monitor has looked.
  int Copy(std::optional<std::string> text) {
    clipboard_ = std::move(text);
    clock_.Advance(TMonitorClipboard::kCheckIntervalMs);
    return system_->DownloadList().Count();
  }

  std::optional<std::string> clipboard_;
  std::unique_ptr<TMonitorClipboard> monitor_;
};

TEST_F(MonitorClipboardITest, AddsMonitoredAddressesOnceEachTimeTheyAreCopied) {
  const std::string zip = http_.Url("/a.zip");
  clipboard_ = zip;
  MakeMonitor();
  IgnoreLink(http_.Url("/ignored.zip"));
  struct Step {
    std::optional<std::string> Text;
    int Downloads;
  };
  const Step steps[] = {
      {zip, 0},  // on the clipboard at start
      {"some words", 0},
      {zip, 1},
      {zip, 1},  // the same again
      {std::nullopt, 1},
      {zip, 1},  // still the last text seen
      {"x", 1},
      {zip, 2},
      {http_.Url("/page.html"), 2},
      {http_.Url("/dir/"), 2},
      {"get " + http_.Url("/b.zip") + " now", 2},
      {http_.Url("/b.zip") + " and " + http_.Url("/c.zip"), 2},
      {" " + http_.Url("/b.zip") + "\r\n", 3},  // copied with its line end
      {http_.Url("/b.zip"), 4},                 // another text than the last
      {http_.Url("/B.ZIP?x=1"), 5},
      {http_.Url("/ignored.zip"), 5},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Text.value_or("(no text)"));
    EXPECT_EQ(Copy(step.Text), step.Downloads);
  }
  // Nobody was asked: each got the name a download gets without a dialog.
  EXPECT_EQ(windows_.NewDownloadDialogs(), 0);
  EXPECT_EQ(system_->DownloadList().Get(0)->LocalFileName, temp_.File("dl/a.zip"));
  EXPECT_EQ(system_->DownloadList().Get(1)->LocalFileName, temp_.File("dl/a(1).zip"));
  EXPECT_EQ(system_->DownloadList().Get(2)->Url->Url, http_.Url("/b.zip"));
}

TEST_F(MonitorClipboardITest, DisabledTakesNothingAndKeepsTheLastTextSeen) {
  clipboard_ = "start";
  MakeMonitor();
  monitor_->Disable();
  EXPECT_EQ(Copy(http_.Url("/a.zip")), 0);
  monitor_->Enable();
  EXPECT_EQ(Copy(http_.Url("/a.zip")), 1);  // not seen while disabled
  monitor_->Disable();
  monitor_->Enable();
  EXPECT_EQ(Copy(http_.Url("/a.zip")), 1);
}

}  // namespace
}  // namespace brindle
