#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QHeaderView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstring>
#include <memory>
#include <string>

#include "core/atomic_file.h"
#include "core/event_loop.h"
#include "core/launcher_port.h"
#include "core/download_status.h"
#include "manager/download_file_info.h"
#include "manager/download_list_model.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"
#include "manager/url_history.h"
#include "ui/download_table_model.h"
#include "ui/form_add_category.h"
#include "ui/form_add_url.h"
#include "ui/form_categories.h"
#include "ui/form_properties.h"
#include "ui/form_viewer.h"
#include "ui/progress_delegate.h"
#include "ui/form_main.h"
#include "support/temp_dir.h"
#include "manager/accepted_url.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/main_window_test.h"

namespace brindle {
namespace {

void Mouse(QWidget* viewport, QEvent::Type type, QPointF at) {
  QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &event);
}

void DoubleClick(QWidget* viewport, QPoint at) {
  for (QEvent::Type type :
       {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
    Mouse(viewport, type, QPointF(at));
}

class FormMainListTest : public test::MainWindowTest {
 protected:
  // An idle record on disk before the window starts.
  void Stored(const std::string& name, TDownloadState status) {
    TLocalDownloadinfo record(std::make_unique<TUrl>("http://127.0.0.1:9/" + name), "", nullptr);
    record.LocalFileName = temp_.File(name);
    record.FileSize = 100;
    record.SetStatus(status);
    record.Save();
    if (status == TDownloadState::Done) test::WriteWholeFile(record.LocalFileName, "finished");
  }
  static QTableView* Grid(const TForm_Main& form) { return form.findChild<QTableView*>("StringGrid_Downloads"); }
  // The file names the list shows, sorted and joined by ",".
  static std::string Rows(const TForm_Main& form) {
    QStringList names;
    const QAbstractItemModel* model = Grid(form)->model();
    for (int row = 0; row < model->rowCount(); ++row)
      names << model->index(row, kColumnFileName).data().toString();
    names.sort();
    return names.join(",").toStdString();
  }
  static void SelectRow(const TForm_Main& form, const QString& name) {
    const QAbstractItemModel* model = Grid(form)->model();
    for (int row = 0; row < model->rowCount(); ++row)
      if (model->index(row, kColumnFileName).data().toString() == name) {
        Grid(form)->setCurrentIndex(model->index(row, 0));
        Grid(form)->selectRow(row);
        return;
      }
    ADD_FAILURE() << name.toStdString();
  }
  static TLocalDownloadinfo* RecordOf(const TForm_Main& form, const std::string& name) {
    const TLDIList& records = form.DownloadSystem().DownloadList();
    for (int i = 0; i < records.Count(); ++i)
      if (records.Get(i)->LocalFileName.ends_with("/" + name)) return records.Get(i);
    return nullptr;
  }
  static std::string StatusOf(const TForm_Main& form, const std::string& name) {
    return RecordOf(form, name) ? RecordOf(form, name)->Status().Text() : "gone";
  }
  // The rows the view highlights, then "|" and the rows the list commands
  // act on: file names, sorted.
  static std::string Selection(const TForm_Main& form) {
    QStringList shown;
    for (const QModelIndex& index : Grid(form)->selectionModel()->selectedRows(kColumnFileName))
      shown << index.data().toString();
    QStringList acted;
    const TLDIList records = form.TableModel().List().GetSelectedFromStringGrid();
    for (int i = 0; i < records.Count(); ++i)
      acted << QString::fromStdString(records.Get(i)->LocalFileName).section('/', -1);
    shown.sort();
    acted.sort();
    return (shown.join(",") + "|" + acted.join(",")).toStdString();
  }
};

TEST_F(FormMainListTest, TreeShowsItsNodesAndStatusPausedFiltersTheListAcrossARestart) {
  Stored("paused.bin", TDownloadState::Paused);
  Stored("done.bin", TDownloadState::Done);
  Stored("later.bin", TDownloadState::Scheduled);
  int pausedIndex = -1;
  {
    auto form = NewForm();
    auto* tree = form->findChild<QTreeWidget*>("TreeView_Categories");
    ASSERT_NE(tree, nullptr);
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
      QString text = (*it)->text(0);
      if ((*it)->parent()) text.prepend((*it)->parent()->text(0) + "/");
      EXPECT_FALSE((*it)->icon(0).isNull()) << text.toStdString();
      if (text == "Status/Paused") {
        pausedIndex = (*it)->data(0, Qt::UserRole).toInt();
        tree->setCurrentItem(*it);
      }
    }
    EXPECT_EQ(Rows(*form), "paused.bin");
    form->DoBeforeTerminate();
  }
  EXPECT_EQ(ReadInteger(kOptionsSection, "ChoosenCategory", -1), pausedIndex);
  auto again = NewForm();
  EXPECT_EQ(again->findChild<QTreeWidget*>("TreeView_Categories")->currentItem()->text(0), "Paused");
  EXPECT_EQ(Rows(*again), "paused.bin");
  // An index from a larger tree selects nothing and the list shows all.
  WriteInteger(kOptionsSection, "ChoosenCategory", 99);
  auto third = NewForm();
  EXPECT_EQ(third->findChild<QTreeWidget*>("TreeView_Categories")->currentItem(), nullptr);
  EXPECT_EQ(Rows(*third), "done.bin,later.bin,paused.bin");
}

TEST_F(FormMainListTest, ContextMenuToolbarAndKeysReachTheListCommands) {
  Stored("paused.bin", TDownloadState::Paused);
  Stored("done.bin", TDownloadState::Done);
  Stored("other.bin", TDownloadState::Done);
  auto form = NewForm();
  auto* menu = form->findChild<QMenu*>("PopupMenu_StringGrid_Downloads");
  ASSERT_NE(menu, nullptr);
  for (QAction* action : menu->actions()) EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();

  // Context menu: Schedule on the paused row.
  SelectRow(*form, "paused.bin");
  form->findChild<QAction*>("Schedule1")->trigger();
  EXPECT_EQ(StatusOf(*form, "paused.bin"), StatusText(TDownloadState::Scheduled));
  // F3 shows the finished file read-only; Esc closes the viewer.
  SelectRow(*form, "done.bin");
  form->findChild<QAction*>("ViewAsText1")->trigger();
  auto* viewer = form->findChild<TForm_Viewer*>("Form_Viewer");
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->Memo()->toPlainText(), "finished");
  EXPECT_TRUE(viewer->Memo()->isReadOnly());
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(viewer, &esc);
  EXPECT_FALSE(viewer->isVisible());
  // Toolbar: Delete on a finished row asks nothing and keeps the file's record out.
  SelectRow(*form, "done.bin");
  auto* del = form->findChild<QToolButton*>("SpeedButton_Delete");
  ASSERT_TRUE(del->isEnabled());
  del->click();
  EXPECT_EQ(StatusOf(*form, "done.bin"), "gone");
  // The Delete key in the list.
  SelectRow(*form, "other.bin");
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(Grid(*form), &key);
  EXPECT_EQ(StatusOf(*form, "other.bin"), "gone");
  EXPECT_EQ(Rows(*form), "paused.bin");

  // The Description cell's ellipsis opens the properties; OK stores the description.
  SelectRow(*form, "paused.bin");
  QTableView* grid = Grid(*form);
  const QRect cell = grid->visualRect(grid->model()->index(0, kColumnDescription));
  Mouse(grid->viewport(), QEvent::MouseButtonRelease, TProgressDelegate::EllipsisRect(cell).center());
  TForm_Properties* properties = form->PropertiesWindow();
  ASSERT_NE(properties, nullptr);
  EXPECT_FALSE(properties->findChild<QLineEdit*>("Edit_SaveTo")->isReadOnly());
  properties->findChild<QLineEdit*>("Edit_Description")->setText("season one");
  auto* speedLimit = properties->findChild<QSpinBox*>("SpinEdit_SpeedLimit");
  EXPECT_EQ(speedLimit->text(), "Unlimited");
  speedLimit->setValue(300);
  // OK first checks the checksum and the folder, as "Save as..." does;
  // refused, the window stays.
  auto* checksum = properties->findChild<QLineEdit*>("Edit_Checksum");
  auto* ok = properties->findChild<QPushButton*>("Button_OK");
  checksum->setText("md5=123");
  ok->click();
  EXPECT_EQ(Answer(*properties, QMessageBox::Ok), "The checksum is not valid: md5 takes 32 hex digits, not 3.");
  checksum->setText(QString::fromStdString("MD5=" + std::string(32, 'A')));
  auto* saveTo = properties->findChild<QLineEdit*>("Edit_SaveTo");
  saveTo->setText(QString::fromStdString(temp_.File("new/paused.bin")));
  ok->click();
  EXPECT_EQ(Answer(*properties, QMessageBox::No), TDownloadFileInfo::CreateQuestion(temp_.File("new")));
  saveTo->setText(QString::fromStdString(temp_.File("paused.bin")));
  SetFileFaultHook([](std::string_view step, const std::string&) { return step == "probe" ? EROFS : 0; });
  ok->click();
  SetFileFaultHook({});
  EXPECT_EQ(Answer(*properties, QMessageBox::Ok),
            TDownloadFileInfo::CannotWriteDirectory(temp_.Path(), std::strerror(EROFS)));
  EXPECT_TRUE(properties->isVisible());
  ok->click();
  EXPECT_FALSE(properties->isVisible());
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(0)->Description, "season one");
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(0)->SpeedLimit, 300);
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(0)->Checksum->Text(), "md5=" + std::string(32, 'a'));
}

// What the list shows highlighted is what Delete and Resume act on, also
// after a new download or a pause refilled the list and moved the rows.
TEST_F(FormMainListTest, TheHighlightedRowsAreTheOnesTheCommandsActOnAcrossRefills) {
  Stored("b.bin", TDownloadState::Paused);
  Stored("c.bin", TDownloadState::Paused);
  Stored("d.bin", TDownloadState::Done);
  auto form = NewForm();
  TDownloadSystem& system = form->DownloadSystem();
  SelectRow(*form, "c.bin");
  // The new row sorts first: the current row's place now holds b.bin.
  ASSERT_TRUE(form->AddDownloadFromUrl("http://127.0.0.1:9/a.bin", true));
  EXPECT_EQ(Selection(*form), "c.bin|c.bin");
  system.PauseDownload(RecordOf(*form, "a.bin"));
  EXPECT_EQ(Selection(*form), "c.bin|c.bin");
  form->findChild<QAction*>("Resume1")->trigger();
  EXPECT_NE(system.AssociatedDownloader(RecordOf(*form, "c.bin")), nullptr);
  EXPECT_EQ(StatusOf(*form, "a.bin"), StatusText(TDownloadState::Paused));
  EXPECT_EQ(StatusOf(*form, "b.bin"), StatusText(TDownloadState::Paused));
  system.PauseDownload(RecordOf(*form, "c.bin"));
  EXPECT_EQ(Selection(*form), "c.bin|c.bin");
  form->findChild<QAction*>("Delete1")->trigger();
  Answer(*form, QMessageBox::Yes);
  EXPECT_EQ(Rows(*form), "a.bin,b.bin,d.bin");
  EXPECT_EQ(Selection(*form), "|");

  // The rows Clear All Done and Errenous chose are shown while it asks.
  RecordOf(*form, "b.bin")->SetStatus(TDownloadState::FileNotFound);
  system.RefreshList();
  form->findChild<QAction*>("ClearAllDoneandErrenous1")->trigger();
  EXPECT_EQ(Selection(*form), "b.bin,d.bin|b.bin,d.bin");
  Answer(*form, QMessageBox::Yes);
  EXPECT_EQ(Rows(*form), "a.bin");
}

TEST_F(FormMainListTest, ARefillBetweenAPressAndItsClickKeepsTheRowUnderTheMouse) {
  Stored("a.bin", TDownloadState::Paused);
  Stored("b.bin", TDownloadState::Scheduled);
  auto form = NewForm();
  form->show();
  QTableView* grid = Grid(*form);
  grid->sortByColumn(kColumnStatus, Qt::AscendingOrder);
  const auto nameAt = [&](int row) { return grid->model()->index(row, kColumnFileName).data().toString(); };
  ASSERT_EQ(nameAt(0), "a.bin");
  const QPointF at =
      TProgressDelegate::EllipsisRect(grid->visualRect(grid->model()->index(0, kColumnDescription))).center();
  Mouse(grid->viewport(), QEvent::MouseButtonPress, at);
  // a.bin would now sort last.
  RecordOf(*form, "a.bin")->SetStatus(TDownloadState::Scheduled);
  RecordOf(*form, "b.bin")->SetStatus(TDownloadState::Paused);
  form->DownloadSystem().RefreshList();
  EXPECT_EQ(nameAt(0), "a.bin");
  Mouse(grid->viewport(), QEvent::MouseButtonRelease, at);
  ASSERT_NE(form->PropertiesWindow(), nullptr);
  EXPECT_TRUE(form->PropertiesWindow()->findChild<QLineEdit*>("Edit_SaveTo")->text().endsWith("a.bin"));
  QApplication::processEvents();
  EXPECT_EQ(nameAt(0), "b.bin");
}

TEST_F(FormMainListTest, AddUrlOffersTheHistoryNewestFirstAndKeepsTheTypedAddress) {
  TUrlHistory history;
  history.Add("http://127.0.0.1:9/one.bin");
  history.Add("http://127.0.0.1:9/two.bin");
  auto form = NewForm();
  form->show();
  form->findChild<QAction*>("AddURL1")->trigger();
  auto* dialog = form->findChild<TForm_AddURL*>("Form_AddURL");
  ASSERT_NE(dialog, nullptr);
  auto* combo = dialog->findChild<QComboBox*>("ComboBox_URL");
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "http://127.0.0.1:9/two.bin");
  EXPECT_EQ(combo->itemText(1), "http://127.0.0.1:9/one.bin");
  // No address: the dialog stays and says why, until the text is one.
  auto* refused = dialog->findChild<QLabel*>("Label_Refused");
  ASSERT_NE(refused, nullptr);
  for (const char* text : {"", "mailto:a@127.0.0.1", "127.0.0.1/three.iso"}) {
    combo->setEditText(text);
    dialog->findChild<QPushButton*>("SpeedButton_OK")->click();
    EXPECT_TRUE(dialog->isVisible()) << text;
    EXPECT_TRUE(refused->isVisibleTo(dialog)) << text;
    EXPECT_EQ(refused->text().toStdString(), RefusedAddressText(text));
  }
  combo->setEditText("ftp://127.0.0.1:9/three.iso");
  EXPECT_FALSE(refused->isVisibleTo(dialog));
  dialog->findChild<QPushButton*>("SpeedButton_OK")->click();
  EXPECT_EQ(TUrlHistory().Items(), (std::vector<std::string>{"http://127.0.0.1:9/one.bin", "http://127.0.0.1:9/two.bin",
                                                             "ftp://127.0.0.1:9/three.iso"}));
  ASSERT_EQ(form->DownloadSystem().DownloadList().Count(), 1);
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(0)->Url->Url, "ftp://127.0.0.1:9/three.iso");
  form->DownloadSystem().PauseAll();

  // Esc cancels: nothing is added or remembered.
  form->findChild<QAction*>("AddURL1")->trigger();
  dialog = form->findChild<TForm_AddURL*>("Form_AddURL");
  ASSERT_NE(dialog, nullptr);
  dialog->findChild<QComboBox*>("ComboBox_URL")->setEditText("http://127.0.0.1:9/four.bin");
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog, &esc);
  EXPECT_EQ(TUrlHistory().Items().size(), 3u);
  EXPECT_EQ(form->DownloadSystem().DownloadList().Count(), 1);
}

TEST_F(FormMainListTest, EnterAndADoubleClickBelowTheHeaderOpenTheFinishedFile) {
  Stored("done.bin", TDownloadState::Done);
  Stored("paused.bin", TDownloadState::Paused);
  test::Installed<test::FakeLauncher, SetLauncher> launcher;
  auto form = NewForm();
  form->show();
  QTableView* grid = Grid(*form);
  SelectRow(*form, "done.bin");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(grid, &enter);
  EXPECT_EQ(launcher.opened, std::vector<std::string>{temp_.File("done.bin")});

  // The header's double click sorts; it opens nothing.
  QHeaderView* header = grid->horizontalHeader();
  DoubleClick(header->viewport(), QPoint(header->sectionPosition(kColumnFileName) + 5, header->height() / 2));
  EXPECT_EQ(launcher.opened.size(), 1u);
  SelectRow(*form, "done.bin");
  const QModelIndex done = grid->currentIndex();
  DoubleClick(grid->viewport(), grid->visualRect(done.siblingAtColumn(kColumnFileName)).center());
  EXPECT_EQ(launcher.opened.size(), 2u);

  // A paused row is started instead.
  SelectRow(*form, "paused.bin");
  DoubleClick(grid->viewport(), grid->visualRect(grid->currentIndex().siblingAtColumn(kColumnFileName)).center());
  EXPECT_EQ(launcher.opened.size(), 2u);
  EXPECT_NE(StatusOf(*form, "paused.bin"), StatusText(TDownloadState::Paused));
  form->DownloadSystem().PauseAll();
}

TEST_F(FormMainListTest, TheTreeUnderlinesTheNodeUnderTheMouse) {
  auto form = NewForm();
  auto* tree = form->findChild<QTreeWidget*>("TreeView_Categories");
  EXPECT_TRUE(tree->hasMouseTracking());
  EXPECT_TRUE(tree->viewport()->testAttribute(Qt::WA_Hover));
  const auto paint = [tree](QStyle::State state) {
    QImage image(120, 20, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.initFrom(tree);
    option.rect = image.rect();
    option.state = state | QStyle::State_Enabled;
    tree->itemDelegate()->paint(&painter, option, tree->model()->index(0, 0));
    return image;
  };
  EXPECT_NE(paint(QStyle::State_MouseOver), paint(QStyle::State_None));
}

// The editor's checks are the manager test's; here the windows' wiring.
TEST_F(FormMainListTest, CategoryDialogsChangeTheTreeAtOnceAndEnterWalksTheFieldsOfARefusedEditor) {
  auto form = NewForm();
  const auto categoryNodes = [&form] {
    QStringList names;
    for (QTreeWidgetItemIterator it(form->findChild<QTreeWidget*>("TreeView_Categories")); *it; ++it)
      if ((*it)->parent() && (*it)->parent()->text(0) == "Categories") names << (*it)->text(0);
    return names;
  };
  const QStringList before = categoryNodes();
  form->findChild<QAction*>("Categories1")->trigger();
  TForm_Categories* list = form->CategoriesWindow();
  ASSERT_NE(list, nullptr);
  auto* grid = list->findChild<QTableWidget*>("StringGrid_Categories");
  TForm_AddCategory* editor = list->Editor();
  const int stored = grid->rowCount();
  for (const char* name : {"Zeta", "Alpha"}) {
    list->findChild<QToolButton*>("SpeedButton_Add")->click();
    EXPECT_EQ(editor->windowTitle(), "Add Category");
    editor->findChild<QLineEdit*>("Edit_CategoryName")->setText(name);
    editor->findChild<QLineEdit*>("Edit_DefaultDirectory")->setText(QString::fromStdString(temp_.Path()));
    editor->findChild<QPushButton*>("SpeedButton_OK")->click();
    ASSERT_FALSE(editor->isVisible()) << name;
    EXPECT_EQ(grid->item(grid->currentRow(), 0)->text(), name);
  }
  EXPECT_EQ(categoryNodes(), before + QStringList({"Zeta", "Alpha"}));
  // Each row has its own "..." in the folder column, wherever sorting put the row.
  grid->sortItems(0, Qt::DescendingOrder);
  int zetaRow = -1;
  for (int row = 0; row < grid->rowCount(); ++row) {
    ASSERT_NE(grid->cellWidget(row, TForm_Categories::kFolderColumn), nullptr);
    if (grid->item(row, 0)->text() == "Zeta") zetaRow = row;
  }
  ASSERT_GE(zetaRow, 0);
  grid->setCurrentCell(zetaRow == 0 ? 1 : 0, 0);
  auto* ellipsis =
      grid->cellWidget(zetaRow, TForm_Categories::kFolderColumn)->findChild<QToolButton*>("Button_DefaultFolder");
  ASSERT_NE(ellipsis, nullptr);
  ellipsis->click();
  ASSERT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->windowTitle(), "Edit Category");
  EXPECT_EQ(editor->findChild<QLineEdit*>("Edit_CategoryName")->text(), "Zeta");
  editor->reject();

  // Enter is OK; when OK refuses, Enter moves on from the name to the extensions and then the folder.
  list->findChild<QToolButton*>("SpeedButton_Add")->click();
  auto* name = editor->findChild<QLineEdit*>("Edit_CategoryName");
  auto* extensions = editor->findChild<QLineEdit*>("Edit_CategoryExtensions");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(name, &enter);
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(name->text(), "Please type a category name!");
  EXPECT_EQ(editor->focusWidget(), extensions);
  name->setText("Beta");
  QApplication::sendEvent(extensions, &enter);
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->findChild<QLineEdit*>("Edit_DefaultDirectory")->text(), "Please choose a directory!");
  EXPECT_EQ(editor->focusWidget(), editor->findChild<QLineEdit*>("Edit_DefaultDirectory"));
  editor->findChild<QLineEdit*>("Edit_DefaultDirectory")->setText(QString::fromStdString(temp_.Path()));
  QApplication::sendEvent(name, &enter);
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(grid->rowCount(), stored + 3);
  EXPECT_EQ(categoryNodes(), before + QStringList({"Zeta", "Alpha", "Beta"}));

  // The Delete key removes the selected category from the list and the tree.
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(grid, &key);
  EXPECT_EQ(grid->rowCount(), stored + 2);
  EXPECT_EQ(categoryNodes(), before + QStringList({"Zeta", "Alpha"}));
}

}  // namespace
}  // namespace brindle
