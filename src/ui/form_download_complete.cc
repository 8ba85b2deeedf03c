#include "ui/form_download_complete.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "archive/unzip.h"
#include "core/paths.h"
#include "core/log_error.h"
#include "core/text_file.h"
#include "manager/window_position.h"
#include "ui/glyphs.h"

namespace brindle {
namespace {

QPushButton* Button(const char* name, const char* caption, const QIcon& icon) {
  auto* button = new QPushButton(icon, caption);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

QLineEdit* ReadOnlyField(const char* name, const std::string& text) {
  auto* edit = new QLineEdit(QString::fromStdString(text));
  edit->setObjectName(name);
  edit->setReadOnly(true);
  // Long addresses show their beginning, where the host is, and the whole
  // text in the tooltip.
  edit->setCursorPosition(0);
  edit->setToolTip(edit->text());
  return edit;
}

}  // namespace

TForm_DownloadComplete::TForm_DownloadComplete(const TLocalDownloadinfo& record, std::function<void()> closed,
                                               QWidget* parent)
    : QDialog(parent), model_(record, std::move(closed)) {
  setObjectName("Form_DownloadComplete");
  setWindowTitle("Download Complete");
  setWindowIcon(ProgramIcon());

  auto* outer = new QVBoxLayout(this);
  outer->setSizeConstraint(QLayout::SetFixedSize);
  auto* top = new QHBoxLayout;
  auto* image = new QLabel;
  image->setObjectName("Image1");
  image->setPixmap(style()->standardIcon(QStyle::SP_DialogApplyButton).pixmap(55, 55));
  image->setFixedSize(55, 55);
  image->setAlignment(Qt::AlignCenter);
  top->addWidget(image, 0, Qt::AlignTop);
  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel("URL:"), 0, 0);
  fields->addWidget(ReadOnlyField("Edit_URL", model_.Url()), 0, 1);
  fields->addWidget(new QLabel("Path:"), 1, 0);
  fields->addWidget(ReadOnlyField("Edit_Path", model_.Path()), 1, 1);
  fields->addWidget(new QLabel("Size:"), 2, 0);
  auto* size = new QLabel(QString::fromStdString(model_.SizeText()));
  size->setObjectName("Label_Size");
  fields->addWidget(size, 2, 1);
  fields->setColumnMinimumWidth(1, 300);
  top->addLayout(fields, 1);
  outer->addLayout(top);

  auto* open = Button("SpeedButton3", "Open / Run", ThemeGlyph("document-open", QStyle::SP_FileIcon));
  auto* folder = Button("SpeedButton2", "Open Folder", ThemeGlyph("folder-open", QStyle::SP_DirOpenIcon));
  auto* row = new QHBoxLayout;
  row->addWidget(open);
  row->addWidget(folder);
  row->addStretch(1);
  outer->addLayout(row);

  // The archive row exists only for an archive, so other files get the
  // lower window.
  if (model_.UnZipShown()) {
    auto* archiveRow = new QHBoxLayout;
    auto* unZip = Button("SpeedButtonUnZip", "UnZip", ThemeGlyph("archive-extract", QStyle::SP_DirIcon));
    archiveRow->addWidget(unZip);
    connect(unZip, &QPushButton::clicked, this, [this] { UnZip(); });
    if (model_.InstallShown()) {
      auto* install = Button("SpeedButtonUnZipAndInstall", "UnZip and Install",
                             ThemeGlyph("system-software-install", QStyle::SP_ComputerIcon));
      archiveRow->addWidget(install);
      connect(install, &QPushButton::clicked, this,
              [this] { Command("SpeedButtonUnZipAndInstallClick", [this] { return model_.UnZipAndInstall(); }); });
    }
    archiveRow->addStretch(1);
    outer->addLayout(archiveRow);
  }

  auto* bottom = new QHBoxLayout;
  chkboxShowDialog_ = new QCheckBox("Do not show this dialog again");
  chkboxShowDialog_->setObjectName("chkboxShowDialog");
  bottom->addWidget(chkboxShowDialog_);
  bottom->addStretch(1);
  auto* close = Button("SpeedButton_Close", "Close", QIcon());
  close->setDefault(true);
  close->setFocus();
  bottom->addWidget(close);
  outer->addLayout(bottom);

  connect(open, &QPushButton::clicked, this, [this] { Command("SpeedButton3Click", [this] { return model_.OpenRun(); }); });
  connect(folder, &QPushButton::clicked, this,
          [this] { Command("SpeedButton2Click", [this] { return model_.OpenFolder(); }); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  // An extraction the user confirmed goes on as the click that asked.
  model_.SetRunner([this](TDownloadCompleteModel::TCommand command) { Command("ExtractConfirmed", command); });
}

void TForm_DownloadComplete::Show() {
  try {
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      TWindowPlacement placement{.Left = area.left() + (area.width() - width()) / 2,
                                 .Top = area.top() + (area.height() - height()) / 2,
                                 .Width = width(),
                                 .Height = height()};
      MakeSureFormIsOnScreen(placement, area.right() + 1, area.bottom() + 1);
      move(placement.Left, placement.Top);
    }
    show();
    raise();
    activateWindow();
  } catch (...) {
    LogError("TForm_DownloadComplete.Show");
  }
}

void TForm_DownloadComplete::Command(const char* name,
                                     const std::function<TDownloadCompleteModel::TAfter()>& command) {
  if (busy_) return;
  // Downloads go on while an archive is extracted; the user's input waits,
  // so nothing closes this window meanwhile.
  struct Busy {
    explicit Busy(bool& busy) : busy_(busy), previous_(SetIdleRoutine([] {
                                               QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                                             })) {
      busy_ = true;
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~Busy() {
      QApplication::restoreOverrideCursor();
      SetIdleRoutine(previous_);
      busy_ = false;
    }
    bool& busy_;
    ZipIdleRoutine previous_;
  };
  TDownloadCompleteModel::TAfter after = TDownloadCompleteModel::TAfter::Stays;
  try {
    Busy busy(busy_);
    after = command();
  } catch (...) {
    LogError(std::string("TForm_DownloadComplete.") + name);
  }
  if (after == TDownloadCompleteModel::TAfter::Closes) accept();
}

void TForm_DownloadComplete::UnZip() {
  const QPointer<TForm_DownloadComplete> self(this);
  const QString folder = QFileDialog::getExistingDirectory(
      this, "UnZip to", QString::fromStdString(DirectoryOf(model_.Path())), QFileDialog::ShowDirsOnly);
  // The program may have ended the window while the chooser was open.
  if (!self || folder.isEmpty()) return;
  Command("SpeedButtonUnZipClick", [this, folder] { return model_.UnZip(folder.toStdString()); });
}

void TForm_DownloadComplete::done(int result) {
  if (busy_) return;
  model_.Closed(chkboxShowDialog_->isChecked());
  QDialog::done(result);
}

void TForm_DownloadComplete::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace brindle
