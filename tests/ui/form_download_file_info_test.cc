#include "ui/form_download_file_info.h"

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <memory>
#include <vector>

#include "core/paths.h"
#include "manager/category.h"
#include "manager/category_editor.h"
#include "manager/category_list.h"
#include "manager/category_tree.h"
#include "manager/download_forms.h"
#include "manager/ldi_list.h"
#include "manager/local_download_info.h"
#include "manager/window_position.h"
#include "ui/form_add_category.h"
#include "ui/form_drag_and_drop_box.h"
#include "ui/form_main.h"
#include "support/main_window_test.h"

namespace brindle {
namespace {

class FileInfoTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteBool(kOptionsSection, "ShowSaveDialog", true);
    WriteString(kOptionsSection, "DefaultDownloadDirectory", temp_.File("dl"));
    EnsureDirectory(temp_.File("dl"));
    categories_ = std::make_unique<TCategoryList>(temp_.File("cat.dat"));
    for (const auto& [name, extensions, folder] : {std::tuple{"Archives", "zip", "arc"}, {"Docs", "pdf", "docs"}}) {
      TCategory* category = categories_->Add(std::make_unique<TCategory>());
      category->SetName(name);
      category->SetExtensions(extensions);
      category->SetSaveFolder(temp_.File(folder));
      EnsureDirectory(temp_.File(folder));
    }
  }
  std::unique_ptr<TForm_DownloadFileInfo> Dialog(const std::string& url, TFileInfoWindowServices services = {}) {
    records_.push_back(std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(url),
                                                            temp_.File("rec" + std::to_string(records_.size())),
                                                            nullptr));
    services.Info.Categories = categories_.get();
    return std::make_unique<TForm_DownloadFileInfo>(
        *records_.back(), [this](const TNewDownloadAnswer& answer) { answers_.push_back(answer); }, services);
  }
  std::unique_ptr<TCategoryList> categories_;
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  std::vector<TNewDownloadAnswer> answers_;
};

TEST_F(FileInfoTest, ShowsTheProposalFollowsTheCategoryAndPreparesTheSaveDialog) {
  WriteInteger(kOptionsSection, "StringGrid_Mirrors_ColWidth_0", 100);
  auto dialog = Dialog("http://h/get/a%20b.zip");
  dialog->Show();
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(dialog->isModal());
  auto* url = Find<QLineEdit>(*dialog, "Edit_URL");
  EXPECT_EQ(url->text(), "http://h/get/a%20b.zip");
  EXPECT_TRUE(url->isReadOnly());
  auto* saveAs = Find<QLineEdit>(*dialog, "Edit_SaveAs");
  EXPECT_EQ(saveAs->text().toStdString(), temp_.File("arc/a b.zip"));
  auto* combo = Find<QComboBox>(*dialog, "ComboBox_Category");
  EXPECT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentText(), "Archives");
  EXPECT_EQ(Find<QLabel>(*dialog, "Label_Size")->text(), "Getting file info");
  EXPECT_FALSE(Find<QGroupBox>(*dialog, "GroupBox_MirrorServers")->isVisible());
  EXPECT_EQ(Find<QTableWidget>(*dialog, "StringGrid_Mirrors")->columnWidth(0), 100);
  EXPECT_FALSE(Find<QPushButton>(*dialog, "Button_NewCategory")->isEnabled());  // no editor given

  combo->setCurrentText("Docs");
  EXPECT_EQ(saveAs->text().toStdString(), temp_.File("docs/a b.zip"));

  dialog->Change();
  QFileDialog* save = dialog->SaveDialog();
  ASSERT_TRUE(save->isVisible());
  EXPECT_EQ(save->directory().absolutePath().toStdString(), temp_.File("docs"));
  EXPECT_EQ(save->nameFilters(), (QStringList{"(*.zip)", "All files (*)"}));
  EXPECT_EQ(save->defaultSuffix(), "zip");
  emit save->fileSelected(QString::fromStdString(temp_.File("dl/other.zip")));
  save->reject();
  EXPECT_EQ(saveAs->text().toStdString(), temp_.File("dl/other.zip"));
  EXPECT_TRUE(answers_.empty());
}

TEST_F(FileInfoTest, ClosingAbortsAnUndecidedDownloadButNotADecidedOne) {
  using Kind = TNewDownloadAnswer::TKind;
  struct Case {
    const char* name;
    std::function<void(TForm_DownloadFileInfo&)> act;
    Kind kind;
  };
  const std::vector<Case> cases = {
      {"title bar", [](TForm_DownloadFileInfo& d) { d.close(); }, Kind::Cancel},
      {"Esc", [](TForm_DownloadFileInfo& d) { d.reject(); }, Kind::Cancel},
      {"Abort", [](TForm_DownloadFileInfo& d) { Find<QPushButton>(d, "SpeedButton_Abort")->click(); }, Kind::Cancel},
      {"Start", [](TForm_DownloadFileInfo& d) { Find<QPushButton>(d, "SpeedButton_Start")->click(); }, Kind::Start},
      {"Schedule", [](TForm_DownloadFileInfo& d) { d.Schedule(); }, Kind::Schedule},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_.clear();
    auto dialog = Dialog("http://h/f.zip");
    dialog->Show();
    Find<QLineEdit>(*dialog, "Edit_Description")->setText("notes");
    Find<QLineEdit>(*dialog, "Edit_Checksum")->setText(QString::fromStdString("SHA1=" + std::string(40, 'A')));
    Find<QTableWidget>(*dialog, "StringGrid_Mirrors")->setColumnWidth(1, 44);
    c.act(*dialog);
    EXPECT_FALSE(dialog->isVisible());
    dialog->close();  // a later close changes nothing
    ASSERT_EQ(answers_.size(), 1u);
    EXPECT_EQ(answers_[0].Kind, c.kind);
    EXPECT_TRUE(dialog->Handled());
    EXPECT_EQ(ReadInteger(kOptionsSection, "StringGrid_Mirrors_ColWidth_1", 0), 44);
    if (c.kind == Kind::Cancel) continue;
    EXPECT_EQ(answers_[0].LocalFileName, temp_.File("arc/f.zip"));
    EXPECT_EQ(answers_[0].Category, "Archives");
    EXPECT_EQ(answers_[0].Description, "notes");
    EXPECT_EQ(answers_[0].Checksum->Text(), "sha1=" + std::string(40, 'a'));
  }
}

TEST_F(FileInfoTest, AFailedCheckAsksOverTheWindowAndKeepsItOpen) {
  auto dialog = Dialog("http://h/f.zip");
  dialog->Show();
  Find<QLineEdit>(*dialog, "Edit_SaveAs")->clear();
  dialog->Start();
  auto* box = dialog->findChild<QMessageBox*>("MessageDialog");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(), TDownloadFileInfo::kInvalidPath);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
  dialog->Start();  // ignored while the check runs
  EXPECT_EQ(dialog->findChildren<QMessageBox*>().size(), 1);
  // A checksum that is not ALGO=HEX is told before the path is checked.
  auto other = Dialog("http://h/g.zip");
  other->Show();
  Find<QLineEdit>(*other, "Edit_Checksum")->setText("sha256=abc");
  other->Start();
  box = other->findChild<QMessageBox*>("MessageDialog");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(), "The checksum is not valid: sha256 takes 64 hex digits, not 3.");
  EXPECT_TRUE(other->isVisible());
  EXPECT_TRUE(answers_.empty());
}

TEST_F(FileInfoTest, IgnoreRecordsTheLinkAndEndsAProgramStartedForIt) {
  int ended = 0;
  TFileInfoWindowServices services;
  services.CommandLineUrl = "http://h/started.zip";
  services.EndProgram = [&ended] { ++ended; };
  Dialog("http://h/other.zip", services)->Ignore();
  EXPECT_EQ(ended, 0);
  Dialog("http://h/started.zip", services)->Ignore();
  EXPECT_EQ(ended, 1);
  ASSERT_EQ(answers_.size(), 2u);
  EXPECT_EQ(answers_[1].Kind, TNewDownloadAnswer::TKind::Cancel);
  EXPECT_EQ(ReadString("IgnoreLinks", "2", ""), "http://h/started.zip");  // the numbering is the manager test's
}

TEST_F(FileInfoTest, NewCategoryIsCreatedAndChosen) {
  TCategoryTree tree;
  tree.PopulateTreeView(categories_->CategoryNames());
  TLDIList records;
  TCategoryEditor editor(*categories_, tree, records);
  std::string added;
  TFileInfoWindowServices services;
  services.Editor = &editor;
  services.OnCategoryAdded = [&added](const std::string& name) { added = name; };
  auto dialog = Dialog("http://h/song.ogg", services);
  dialog->Show();
  dialog->NewCategory();
  auto* editorForm = Find<TForm_AddCategory>(*dialog, "Form_AddCategory");
  ASSERT_TRUE(editorForm->isVisible());
  Find<QLineEdit>(*editorForm, "Edit_CategoryName")->setText("Music");
  Find<QLineEdit>(*editorForm, "Edit_CategoryExtensions")->setText("ogg");
  Find<QLineEdit>(*editorForm, "Edit_DefaultDirectory")->setText(QString::fromStdString(temp_.Path()));
  editorForm->Ok();
  EXPECT_EQ(added, "Music");
  ASSERT_NE(categories_->GetByName("Music"), nullptr);
  EXPECT_EQ(Find<QComboBox>(*dialog, "ComboBox_Category")->currentText(), "Music");
  EXPECT_EQ(Find<QLineEdit>(*dialog, "Edit_SaveAs")->text().toStdString(), temp_.File("song.ogg"));
}

TEST_F(FileInfoTest, DropBoxTakesDownloadLinksOnly) {
  std::vector<std::string> taken;
  TForm_DragAndDropBox box([&taken](const std::string& url) {
    taken.push_back(url);
    return true;
  });
  EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(box.windowType(), Qt::Tool);
  const auto drop = [&box](const QString& text, bool asUrl) {
    QMimeData data;
    if (asUrl) data.setUrls({QUrl(text)});
    else data.setText(text);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &event);
    return event.isAccepted();
  };
  // Which addresses are download links is the manager test's.
  EXPECT_TRUE(drop("https://h/dir/file.iso", true));
  EXPECT_TRUE(drop("  ftp://h/pub/file.tar  ", false));
  EXPECT_FALSE(drop("ftp://h/pub/", true));
  EXPECT_EQ(taken, (std::vector<std::string>{"https://h/dir/file.iso", "ftp://h/pub/file.tar"}));

  const QRect screen(0, 0, 1000, 700);
  EXPECT_EQ(TForm_DragAndDropBox::Snapped(QRect(4, 300, 60, 80), screen), QPoint(0, 300));
  EXPECT_EQ(TForm_DragAndDropBox::Snapped(QRect(936, 616, 60, 80), screen), QPoint(940, 620));
  EXPECT_EQ(TForm_DragAndDropBox::Snapped(QRect(-50, 900, 60, 80), screen), QPoint(0, 620));
  EXPECT_EQ(TForm_DragAndDropBox::Snapped(QRect(500, 300, 60, 80), screen), QPoint(500, 300));
}

TEST_F(FileInfoTest, DownloadBasketItemOpensTheBoxWhichUnticksItWhenClosed) {
  auto owned = NewForm();
  TForm_Main& form = *owned;
  auto* item = Find<QAction>(form, "DownloadBasket1");
  EXPECT_TRUE(item->isVisible());
  EXPECT_TRUE(item->isEnabled());
  item->trigger();
  ASSERT_NE(form.DropBox(), nullptr);
  EXPECT_TRUE(form.DropBox()->isVisible());
  form.DropBox()->move(120, 130);
  form.DropBox()->close();
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(LoadPosition(TForm_DragAndDropBox::kPositionSection).Left, 120);
  item->trigger();
  ASSERT_NE(form.DropBox(), nullptr);
  item->trigger();
  EXPECT_FALSE(item->isChecked());
}

}  // namespace
}  // namespace brindle
