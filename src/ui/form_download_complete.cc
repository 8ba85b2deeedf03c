#include "ui/form_download_complete.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
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

// While an archive is extracted the program's windows take no input, and
// Escape stops the extraction.
class TInputGate final : public QObject {
 public:
  explicit TInputGate(std::function<void()> onEscape) : onEscape_(std::move(onEscape)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) onEscape_();
        return true;
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
        return true;
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  std::function<void()> onEscape_;
};

// The folder chooser of UnZip: a folder typed that does not exist yet is
// taken, and UnZip creates it.
class TNewFolderChooser final : public QFileDialog {
 public:
  TNewFolderChooser(QWidget* parent, const QString& start) : QFileDialog(parent, "UnZip to", start) {
    setObjectName("PBFolderDialog1");
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    setOption(QFileDialog::DontUseNativeDialog);
  }

  void accept() override {
    const QStringList chosen = selectedFiles();
    if (chosen.size() == 1 && !chosen.front().isEmpty() && !QFileInfo::exists(chosen.front())) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};

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
  // Downloads go on while an archive is extracted; the user's input is
  // dropped but for Escape, which stops it, so nothing else closes this
  // window meanwhile.
  struct Busy {
    Busy(bool& busy, TDownloadCompleteModel& model)
        : busy_(busy), gate_([&model] { model.Stop(); }), previous_(SetIdleRoutine([] {
            QCoreApplication::processEvents();
          })) {
      busy_ = true;
      qApp->installEventFilter(&gate_);
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~Busy() {
      QApplication::restoreOverrideCursor();
      qApp->removeEventFilter(&gate_);
      SetIdleRoutine(previous_);
      busy_ = false;
    }
    bool& busy_;
    TInputGate gate_;
    ZipIdleRoutine previous_;
  };
  TDownloadCompleteModel::TAfter after = TDownloadCompleteModel::TAfter::Stays;
  try {
    Busy busy(busy_, model_);
    after = command();
  } catch (...) {
    LogError(std::string("TForm_DownloadComplete.") + name);
  }
  if (after == TDownloadCompleteModel::TAfter::Closes) accept();
}

void TForm_DownloadComplete::UnZip() {
  const QPointer<TForm_DownloadComplete> self(this);
  TNewFolderChooser chooser(this, QString::fromStdString(DirectoryOf(model_.Path())));
  const bool chosen = chooser.exec() == QDialog::Accepted;
  // The program may have ended the window while the chooser was open.
  if (!self || !chosen || chooser.selectedFiles().isEmpty()) return;
  const QString folder = chooser.selectedFiles().front();
  Command("SpeedButtonUnZipClick", [this, folder] { return model_.UnZip(folder.toStdString()); });
}

void TForm_DownloadComplete::done(int result) {
  // Escape or Close while an archive is extracted stops it; the window
  // stays to say how far it got.
  if (busy_) {
    model_.Stop();
    return;
  }
  model_.Closed(chkboxShowDialog_->isChecked());
  QDialog::done(result);
}

void TForm_DownloadComplete::closeEvent(QCloseEvent* event) {
  if (busy_) {
    model_.Stop();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace brindle
