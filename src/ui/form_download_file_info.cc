#include "ui/form_download_file_info.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/download_status.h"
#include "core/owned_callback.h"
#include "core/settings_schema.h"
#include "manager/category.h"
#include "manager/category_editor.h"
#include "manager/ignored_links.h"
#include "manager/status_colors.h"
#include "ui/download_table_model.h"
#include "ui/form_add_category.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"
#include "ui/qt_prompt.h"

namespace brindle {
namespace {

constexpr int kClientWidth = 385;
constexpr int kMirrorRowHeight = 18;

}  // namespace

TForm_DownloadFileInfo::TForm_DownloadFileInfo(const TLocalDownloadinfo& record,
                                               std::function<void(const TNewDownloadAnswer&)> answer,
                                               TFileInfoWindowServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      info_(record, services.Info),
      answer_(std::move(answer)),
      services_(std::move(services)),
      prompt_(std::make_unique<TQtPrompt>(this)) {
  setObjectName("Form_DownloadFileInfo");
  setWindowTitle(kCaption);
  setWindowIcon(ProgramIcon());
  setModal(false);

  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox("File Info:", this);
  group->setObjectName("GroupBox_FileInfo");
  auto* grid = new QGridLayout(group);
  const auto label = [group](const char* name, const char* text) {
    auto* created = new QLabel(text, group);
    created->setObjectName(name);
    return created;
  };
  const auto button = [group](const char* name, const char* text) {
    auto* created = new QPushButton(text, group);
    created->setObjectName(name);
    created->setAutoDefault(false);
    return created;
  };
  editUrl_ = new QLineEdit(QString::fromStdString(info_.Url()), group);
  editUrl_->setObjectName("Edit_URL");
  editUrl_->setReadOnly(true);
  QPalette readOnly = editUrl_->palette();
  readOnly.setColor(QPalette::Base, readOnly.color(QPalette::Window));
  editUrl_->setPalette(readOnly);
  editUrl_->setCursorPosition(0);
  grid->addWidget(label("Label1", "URL:"), 0, 0);
  grid->addWidget(editUrl_, 0, 1, 1, 2);
  editSaveAs_ = new QLineEdit(group);
  editSaveAs_->setObjectName("Edit_SaveAs");
  auto* change = button("btnChange", "Change...");
  grid->addWidget(label("Label2", "Save as:"), 1, 0);
  grid->addWidget(editSaveAs_, 1, 1);
  grid->addWidget(change, 1, 2);
  comboCategory_ = new QComboBox(group);
  comboCategory_->setObjectName("ComboBox_Category");
  buttonNewCategory_ = button("Button_NewCategory", "New...");
  buttonNewCategory_->setEnabled(services_.Editor != nullptr);
  grid->addWidget(label("Label3", "Category:"), 2, 0);
  grid->addWidget(comboCategory_, 2, 1);
  grid->addWidget(buttonNewCategory_, 2, 2);
  editDescription_ = new QLineEdit(group);
  editDescription_->setObjectName("Edit_Description");
  grid->addWidget(label("Label5", "Description:"), 3, 0);
  grid->addWidget(editDescription_, 3, 1, 1, 2);
  editChecksum_ = new QLineEdit(QString::fromStdString(info_.ProposedChecksum()), group);
  editChecksum_->setObjectName("Edit_Checksum");
  editChecksum_->setPlaceholderText(kChecksumPlaceholder);
  grid->addWidget(label("Label6", "Checksum:"), 4, 0);
  grid->addWidget(editChecksum_, 4, 1, 1, 2);
  labelSize_ = label("Label_Size", StatusText(TDownloadState::GettingFileInfo).c_str());
  grid->addWidget(label("Label4", "Size:"), 5, 0);
  grid->addWidget(labelSize_, 5, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  layout->addWidget(group);

  auto* buttons = new QHBoxLayout;
  const auto action = [this, buttons](const char* name, const char* text) {
    auto* created = new QPushButton(text, this);
    created->setObjectName(name);
    created->setAutoDefault(false);
    buttons->addWidget(created);
    return created;
  };
  auto* ignore = action("SpeedButton_Ignore", "Ignore this link in the future");
  buttons->addStretch(1);
  auto* abort = action("SpeedButton_Abort", "Abort");
  buttonSchedule_ = action("SpeedButton_Schedule", "Schedule");
  buttonStart_ = action("SpeedButton_Start", "Start");
  buttonStart_->setDefault(true);
  layout->addLayout(buttons);

  // Kept for its column widths; it shows nothing.
  groupMirrors_ = new QGroupBox("Mirror servers:", this);
  groupMirrors_->setObjectName("GroupBox_MirrorServers");
  auto* mirrorLayout = new QVBoxLayout(groupMirrors_);
  gridMirrors_ = new QTableWidget(0, 3, groupMirrors_);
  gridMirrors_->setObjectName("StringGrid_Mirrors");
  gridMirrors_->setHorizontalHeaderLabels({"Site", "Ping", "Speed"});
  gridMirrors_->verticalHeader()->hide();
  gridMirrors_->verticalHeader()->setDefaultSectionSize(kMirrorRowHeight);
  mirrorLayout->addWidget(gridMirrors_);
  groupMirrors_->setFixedHeight(0);
  groupMirrors_->hide();
  layout->addWidget(groupMirrors_);

  saveDialog_ = new QFileDialog(this, "Choose file");
  saveDialog_->setObjectName("SaveDialog1");
  saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
  saveDialog_->setFileMode(QFileDialog::AnyFile);
  // The overwrite question is SubmitedInfoCorrect's.
  saveDialog_->setOption(QFileDialog::DontConfirmOverwrite);
  connect(saveDialog_, &QFileDialog::fileSelected, this, [this](const QString& path) {
    Guarded("TForm_DownloadFileInfo.SaveDialog", [this, &path] {
      editSaveAs_->setText(path);
      lastDirectory_ = saveDialog_->directory().absolutePath();
    });
  });

  connect(change, &QPushButton::clicked, this, [this] { Change(); });
  connect(buttonNewCategory_, &QPushButton::clicked, this, [this] { NewCategory(); });
  connect(ignore, &QPushButton::clicked, this, [this] { Ignore(); });
  connect(abort, &QPushButton::clicked, this, [this] { Abort(); });
  connect(buttonSchedule_, &QPushButton::clicked, this, [this] { Schedule(); });
  connect(buttonStart_, &QPushButton::clicked, this, [this] { Start(); });
  connect(comboCategory_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) Guarded("TForm_DownloadFileInfo.CategoryChange", [this] { CategoryChanged(); });
  });

  editSaveAs_->setText(QString::fromStdString(info_.ProposedPath()));
  FillCategories(info_.ProposedCategory() ? info_.ProposedCategory()->Name() : "");
  if (comboCategory_->currentIndex() >= 0) CategoryChanged();
  LoadStringGridsConfiguration();
  setFixedSize(std::max(kClientWidth, sizeHint().width()), sizeHint().height());
}

TForm_DownloadFileInfo::~TForm_DownloadFileInfo() { CancelCallbacks(this); }

void TForm_DownloadFileInfo::Show() {
  show();
  raise();
  activateWindow();
  editSaveAs_->setFocus();
}

void TForm_DownloadFileInfo::SetSizeText(const std::string& text, TStatusColor color) {
  labelSize_->setText(QString::fromStdString(text));
  const std::optional<uint32_t> setting = LoadColorSettingsFromRegistry().For(color);
  QPalette palette = labelSize_->palette();
  palette.setColor(QPalette::WindowText,
                   setting ? ColorFromSetting(*setting, this->palette()) : this->palette().color(QPalette::WindowText));
  labelSize_->setPalette(palette);
}

void TForm_DownloadFileInfo::SetStartEnabled(bool enabled) { buttonStart_->setEnabled(enabled); }

void TForm_DownloadFileInfo::FillCategories(const std::string& select) {
  filling_ = true;
  comboCategory_->clear();
  for (const std::string& name : info_.CategoryNames()) comboCategory_->addItem(QString::fromStdString(name));
  comboCategory_->setCurrentIndex(select.empty() ? -1 : comboCategory_->findText(QString::fromStdString(select)));
  filling_ = false;
}

void TForm_DownloadFileInfo::CategoryChanged() {
  editSaveAs_->setText(QString::fromStdString(
      info_.PathForCategory(comboCategory_->currentText().toStdString(), editSaveAs_->text().toStdString())));
}

void TForm_DownloadFileInfo::Change() {
  Guarded("TForm_DownloadFileInfo.btnChangeClick", [this] {
    if (saveDialog_->isVisible()) return;
    const TDownloadFileInfo::TSaveDialogSetup setup =
        info_.ChangeSetup(editSaveAs_->text().toStdString(), lastDirectory_.toStdString());
    saveDialog_->setDirectory(QString::fromStdString(setup.Directory));
    saveDialog_->setNameFilters(setup.Filter.empty() ? QStringList{"All files (*)"}
                                                     : QString::fromStdString(setup.Filter).split(";;"));
    saveDialog_->setDefaultSuffix(QString::fromStdString(setup.DefaultSuffix));
    saveDialog_->selectFile(QString::fromStdString(setup.FileName));
    saveDialog_->open();
  });
}

void TForm_DownloadFileInfo::NewCategory() {
  Guarded("TForm_DownloadFileInfo.Button_NewCategoryClick", [this] {
    if (!services_.Editor || (addCategory_ && addCategory_->isVisible())) return;
    if (!addCategory_) addCategory_ = new TForm_AddCategory(*services_.Editor, this);
    addCategory_->Prepare(TCategoryEditor::NewFields(), nullptr);
    addCategory_->disconnect(this);
    connect(addCategory_, &QDialog::accepted, this, [this] {
      Guarded("TForm_DownloadFileInfo.NewCategory", [this] {
        TCategory* added = services_.Editor->AddCategory(addCategory_->Fields());
        if (!added) return;
        if (services_.OnCategoryAdded) services_.OnCategoryAdded(added->Name());
        FillCategories(added->Name());
        CategoryChanged();
      });
    });
    addCategory_->open();
  });
}

void TForm_DownloadFileInfo::Start() { Submit(TNewDownloadAnswer::TKind::Start); }

void TForm_DownloadFileInfo::Schedule() { Submit(TNewDownloadAnswer::TKind::Schedule); }

void TForm_DownloadFileInfo::Submit(TNewDownloadAnswer::TKind kind) {
  Guarded("TForm_DownloadFileInfo.Submit", [this, kind] {
    if (handled_ || validating_) return;
    if (kind == TNewDownloadAnswer::TKind::Start && !buttonStart_->isEnabled()) return;
    std::optional<TChecksum> checksum;
    if (!TDownloadFileInfo::ChecksumCorrect(editChecksum_->text().toStdString(), *prompt_, checksum)) {
      editChecksum_->setFocus();
      return;
    }
    validating_ = true;
    const auto checked = [this, kind, checksum](bool ok, bool focus) {
      validating_ = false;
      if (!ok) {
        if (focus) editSaveAs_->setFocus();
        return;
      }
      if (handled_) return;
      const std::string path = editSaveAs_->text().toStdString();
      const std::string category = comboCategory_->currentText().toStdString();
      const std::string description = editDescription_->text().toStdString();
      TNewDownloadAnswer answer = kind == TNewDownloadAnswer::TKind::Start
                                      ? info_.StartAnswer(path, category, description)
                                      : info_.ScheduleAnswer(path, category, description);
      answer.Checksum = checksum;
      Decide(answer);
    };
    // The answers may come after this window has gone.
    info_.SubmitedInfoCorrect(editSaveAs_->text().toStdString(), *prompt_, OwnedCallback<bool, bool>(this, checked));
  });
}

void TForm_DownloadFileInfo::Abort() {
  Guarded("TForm_DownloadFileInfo.Abort", [this] {
    if (handled_) return;
    TNewDownloadAnswer answer;
    answer.Kind = TNewDownloadAnswer::TKind::Cancel;
    Decide(answer);
  });
}

void TForm_DownloadFileInfo::Ignore() {
  Guarded("TForm_DownloadFileInfo.SpeedButton_IgnoreClick", [this] {
    if (handled_) return;
    IgnoreLink(info_.Url());
    const bool endProgram = !info_.Url().empty() && info_.Url() == services_.CommandLineUrl && services_.EndProgram;
    TNewDownloadAnswer answer;
    answer.Kind = TNewDownloadAnswer::TKind::Cancel;
    Decide(answer);
    if (endProgram) services_.EndProgram();
  });
}

void TForm_DownloadFileInfo::Decide(const TNewDownloadAnswer& answer) {
  handled_ = true;
  SaveStringGridsConfiguration();
  hide();
  setResult(answer.Kind == TNewDownloadAnswer::TKind::Cancel ? QDialog::Rejected : QDialog::Accepted);
  const auto callback = std::move(answer_);
  answer_ = nullptr;
  if (callback) callback(answer);
}

void TForm_DownloadFileInfo::reject() {
  if (handled_) {
    QDialog::reject();
    return;
  }
  Abort();
}

void TForm_DownloadFileInfo::LoadStringGridsConfiguration() {
  for (int column = 0; column < 2; ++column)
    gridMirrors_->setColumnWidth(column, Read(setting::MirrorsColumnWidth(column)));
}

void TForm_DownloadFileInfo::SaveStringGridsConfiguration() {
  for (int column = 0; column < 2; ++column)
    Write(setting::MirrorsColumnWidth(column), gridMirrors_->columnWidth(column));
}

}  // namespace brindle
