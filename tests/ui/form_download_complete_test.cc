#include "ui/form_download_complete.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <memory>
#include <string>
#include <vector>

#include "core/url.h"
#include "manager/local_download_info.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/scripted_prompt.h"
#include "support/ui_test.h"

namespace brindle {
namespace {

class FormDownloadCompleteTest : public test::UiTest {
 protected:
  // A finished download of name holding content.
  std::unique_ptr<TForm_DownloadComplete> Form(const std::string& name, const std::string& content) {
    record_ = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>("http://localhost/" + name), "", nullptr);
    record_->LocalFileName = temp_.File(name);
    test::WriteWholeFile(record_->LocalFileName, content);
    auto form = std::make_unique<TForm_DownloadComplete>(*record_, [this] { ++closed_; });
    form->Show();
    return form;
  }
  static std::string Installer() {
    return test::ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/infozip-installer.zip");
  }

  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
  std::unique_ptr<TLocalDownloadinfo> record_;
  int closed_ = 0;
};

TEST_F(FormDownloadCompleteTest, AnArchiveGetsTheArchiveRowAndOtherFilesTheLowerWindow) {
  auto archive = Form("report.ZIP", Installer());
  auto plain = Form("report.zip", "not an archive");
  ASSERT_TRUE(archive->findChild<QPushButton*>("SpeedButtonUnZip"));
  ASSERT_TRUE(archive->findChild<QPushButton*>("SpeedButtonUnZipAndInstall"));
  EXPECT_FALSE(plain->findChild<QPushButton*>("SpeedButtonUnZip"));
  EXPECT_FALSE(plain->findChild<QPushButton*>("SpeedButtonUnZipAndInstall"));
  EXPECT_LT(plain->height(), archive->height());
  EXPECT_EQ(archive->findChild<QLineEdit*>("Edit_URL")->text(), "http://localhost/report.ZIP");
  EXPECT_EQ(archive->findChild<QLineEdit*>("Edit_Path")->text().toStdString(), temp_.File("report.ZIP"));
  EXPECT_EQ(plain->findChild<QLabel*>("Label_Size")->text(), "14 bytes");
}

TEST_F(FormDownloadCompleteTest, EveryCloseReleasesOnceAndTheTickIsKept) {
  auto form = Form("a.txt", "text");
  form->findChild<QPushButton*>("SpeedButton3")->click();
  EXPECT_EQ(launcher_.opened, std::vector<std::string>{temp_.File("a.txt")});
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(ReadBool(kOptionsSection, "ShowCompletedDialog", true));

  auto ticked = Form("b.txt", "text");
  ticked->findChild<QCheckBox*>("chkboxShowDialog")->setChecked(true);
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(ticked.get(), &esc);
  EXPECT_FALSE(ticked->isVisible());
  EXPECT_EQ(closed_, 2);
  EXPECT_FALSE(ReadBool(kOptionsSection, "ShowCompletedDialog", true));
}

TEST_F(FormDownloadCompleteTest, UnZipCreatesATypedFolderAndEscapeStopsTheExtraction) {
  test::Installed<test::ScriptedPrompt, SetPrompt> prompt;
  auto form = Form("big.zip", test::ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/infozip-deflate-2mib.zip"));
  const std::string folder = temp_.File("new/folder");
  // The chooser takes a folder that does not exist; Escape comes while the
  // archive is extracted.
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    chooser->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(folder));
    QTimer::singleShot(0, [&] {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(form.get(), &esc);
    });
    QMetaObject::invokeMethod(chooser, "accept");
  });
  form->findChild<QPushButton*>("SpeedButtonUnZip")->click();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(test::FileExists(folder));
  ASSERT_EQ(prompt.texts.size(), 1u);
  EXPECT_TRUE(prompt.texts[0].starts_with("Extraction stopped. 0 entries")) << prompt.texts[0];
  EXPECT_EQ(closed_, 0);
}

}  // namespace
}  // namespace brindle
