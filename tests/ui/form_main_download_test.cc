#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "core/settings.h"
#include "core/download_status.h"
#include "engine/downloader.h"
#include "engine/part_download_slots.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"
#include "support/fault_http_server.h"
#include "support/temp_dir.h"
#include "support/test_content.h"
#include "ui/form_add_url.h"
#include "ui/form_download.h"
#include "ui/form_download_complete.h"
#include "ui/form_download_file_info.h"
#include "support/main_window_test.h"

namespace brindle {
namespace {

// The one visible top-level window of that type (the download windows have
// no Qt parent), or nullptr.
template <class T>
T* ShownWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = dynamic_cast<T*>(widget); window && window->isVisible()) return window;
  return nullptr;
}

class FormMainDownloadTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteBool(kOptionsSection, "ShowSaveDialog", true);
    WriteBool(kOptionsSection, "ShowDownloadWindow", true);
    WriteBool(kOptionsSection, "ShowCompletedDialog", true);
    // An existing folder: "Save as..." asks nothing before it starts.
    std::filesystem::create_directories(temp_.File("downloads"));
  }
};

// A whole download through the windows a user sees: Add URL, "Save as...",
// "File Download" with its part rows, and "Download Complete".
TEST_F(FormMainDownloadTest, AnAddedAddressIsConfirmedWatchedJoinedAndCompleted) {
  const std::string content = test::MakeContent(300 * 1024);
  test::FaultHttpServer server(loop_);
  server.AddFile("/whole.bin", content);
  // The parts hold still until the download window shows their rows.
  bool stall = true;
  server.SetHandler([&server, &stall](const test::HttpRequest& request) {
    test::HttpReply reply = server.Serve(request);
    if (stall) reply.StallAt = {1000};
    return reply;
  });
  auto form = NewForm();
  form->show();
  TDownloadSystem& system = form->DownloadSystem();

  form->findChild<QAction*>("AddURL1")->trigger();
  auto* addUrl = Find<TForm_AddURL>(*form, "Form_AddURL");
  ASSERT_NE(addUrl, nullptr);
  addUrl->findChild<QComboBox*>("ComboBox_URL")->setEditText(QString::fromStdString(server.Url("/whole.bin")));
  addUrl->findChild<QPushButton*>("SpeedButton_OK")->click();

  // "Save as..." waits for the size before Start is offered.
  TForm_DownloadFileInfo* saveAs = nullptr;
  QPushButton* start = nullptr;
  ASSERT_TRUE(test::RunUntil(loop_, [&] {
    saveAs = ShownWindow<TForm_DownloadFileInfo>();
    start = saveAs ? saveAs->findChild<QPushButton*>("SpeedButton_Start") : nullptr;
    return start && start->isEnabled();
  }));
  EXPECT_EQ(saveAs->windowTitle(), TForm_DownloadFileInfo::kCaption);
  const std::string path = temp_.File("downloads/whole.bin");
  EXPECT_EQ(saveAs->findChild<QLineEdit*>("Edit_SaveAs")->text().toStdString(), path);
  start->click();

  TForm_Download* window = nullptr;
  QTableWidget* rows = nullptr;
  ASSERT_TRUE(test::RunUntil(loop_, [&] {
    window = ShownWindow<TForm_Download>();
    rows = window ? window->findChild<QTableWidget*>("StringGrid_SimultaneousDownloads") : nullptr;
    return rows && system.ActiveList().size() == 1 && rows->rowCount() > 1 &&
           rows->rowCount() == system.ActiveList()[0]->Slots().NumberOfSlots();
  }));
  EXPECT_FALSE(saveAs->isVisible());
  EXPECT_TRUE(window->windowTitle().endsWith("% whole.bin")) << window->windowTitle().toStdString();
  stall = false;
  server.Release();

  TForm_DownloadComplete* complete = nullptr;
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return (complete = ShownWindow<TForm_DownloadComplete>()) != nullptr; }));
  ASSERT_EQ(system.DownloadList().Count(), 1);
  EXPECT_EQ(system.DownloadList().Get(0)->Status(), TDownloadState::Done);
  EXPECT_EQ(test::ReadWholeFile(path), content);
  EXPECT_EQ(ShownWindow<TForm_Download>(), nullptr);

  // Closing the last window lets the download system free the download.
  complete->findChild<QPushButton*>("SpeedButton_Close")->click();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return system.FormsCount() == 0 && system.ActiveList().empty(); }));
  EXPECT_EQ(ShownWindow<TForm_DownloadComplete>(), nullptr);
  EXPECT_TRUE(ReadBool(kOptionsSection, "ShowCompletedDialog", false));
}

}  // namespace
}  // namespace brindle
