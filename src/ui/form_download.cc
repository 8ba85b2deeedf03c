#include "ui/form_download.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/downloader.h"
#include "engine/part_download_slots.h"
#include "ui/download_table_model.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"

namespace brindle {
namespace {

QLineEdit* ValueEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setReadOnly(true);
  edit->setFrame(false);
  // Read-only text on the window's own background, as a label would be.
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  edit->setPalette(palette);
  return edit;
}

QLabel* ValueLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  return label;
}

}  // namespace

TForm_Download::TForm_Download(TDownloader& downloader, std::function<void(TDownloader&)> showProperties)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      downloader_(downloader),
      showProperties_(std::move(showProperties)),
      colors_(LoadColorSettingsFromRegistry()) {
  setObjectName("Form_Download");
  setWindowTitle(TDownloadWindowModel::kCaption);
  setWindowIcon(ProgramIcon());
  setMinimumSize(300, 300);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QGridLayout;
  top->setHorizontalSpacing(8);
  top->setColumnStretch(1, 1);
  top->setColumnStretch(3, 1);
  editSavePath_ = ValueEdit(this, "Edit_SavePath");
  labelStatus_ = ValueLabel(this, "Label_Status");
  labelResume_ = ValueLabel(this, "Label_Resume");
  editUrl_ = ValueEdit(this, "Edit_URL");
  labelTimeLeft_ = ValueLabel(this, "Label_TimeLeft");
  labelTransferRate_ = ValueLabel(this, "Label_TransferRate");
  labelFileSize_ = ValueLabel(this, "Label_FileSize");
  top->addWidget(new QLabel("Saving to:", this), 0, 0);
  top->addWidget(editSavePath_, 0, 1, 1, 3);
  top->addWidget(new QLabel("URL:", this), 1, 0);
  top->addWidget(editUrl_, 1, 1, 1, 3);
  top->addWidget(new QLabel("Status:", this), 2, 0);
  top->addWidget(labelStatus_, 2, 1);
  top->addWidget(new QLabel("Resume:", this), 2, 2);
  top->addWidget(labelResume_, 2, 3);
  top->addWidget(new QLabel("Time Left:", this), 3, 0);
  top->addWidget(labelTimeLeft_, 3, 1);
  top->addWidget(new QLabel("Transfer Rate:", this), 3, 2);
  top->addWidget(labelTransferRate_, 3, 3);
  top->addWidget(new QLabel("File Size:", this), 4, 0);
  top->addWidget(labelFileSize_, 4, 1, 1, 3);
  layout->addLayout(top);

  layout->addWidget(new QLabel("Simultaneous Downloads:", this));
  grid_ = new QTableWidget(1, 4, this);
  grid_->setObjectName("StringGrid_SimultaneousDownloads");
  grid_->setHorizontalHeaderLabels({"#", "Size", "Status", "Location"});
  grid_->verticalHeader()->hide();
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setWordWrap(false);
  // The widths were made for a small 8-point font; they grow with the
  // desktop's font, and the last column takes the rest.
  const QFontMetrics metrics(grid_->font());
  const double scale = std::max(1.0, metrics.horizontalAdvance("Downloading") / 62.0);
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  header->setHighlightSections(false);
  header->resizeSection(0, std::max(static_cast<int>(15 * scale), metrics.horizontalAdvance("99") + 8));
  header->resizeSection(1, static_cast<int>(70 * scale));
  header->resizeSection(2, static_cast<int>(98 * scale));
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(std::max(kRowHeight, metrics.height() + 4));
  layout->addWidget(grid_, 1);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("ProgressBar_DownloadProgress");
  progress_->setTextVisible(false);
  layout->addWidget(progress_);

  auto* buttons = new QHBoxLayout;
  buttonProperties_ = new QPushButton("Properties", this);
  buttonProperties_->setObjectName("Button_Properties");
  buttonPause_ = new QPushButton("Pause", this);
  buttonPause_->setObjectName("Button_Pause");
  buttonAbort_ = new QPushButton("Abort", this);
  buttonAbort_->setObjectName("Button_Abort");
  buttons->addWidget(buttonProperties_);
  buttons->addStretch(1);
  buttons->addWidget(buttonPause_);
  buttons->addWidget(buttonAbort_);
  layout->addLayout(buttons);

  connect(buttonPause_, &QPushButton::clicked, this,
          [this] { Guarded("TForm_Download.Button_PauseClick", [this] { Pause(); }); });
  connect(buttonAbort_, &QPushButton::clicked, this,
          [this] { Guarded("TForm_Download.Button_AbortClick", [this] { Abort(); }); });
  connect(buttonProperties_, &QPushButton::clicked, this, [this] {
    Guarded("TForm_Download.Button_PropertiesClick", [this] {
      if (showProperties_) showProperties_(downloader_);
    });
  });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  resize(440, 360);
  Refresh();
}

void TForm_Download::Show() {
  show();
  raise();
}

void TForm_Download::Hide() { hide(); }

bool TForm_Download::Visible() const { return isVisible(); }

void TForm_Download::Refresh() {
  Guarded("TForm_Download.UpdateInfo", [this] { UpdateInfo(ReadDownloadSnapshot(downloader_)); });
}

void TForm_Download::UpdateInfo(const TDownloadSnapshot& snapshot) {
  model_.UpdateInfo(snapshot);
  ApplyRows();
  ApplyTexts();
}

void TForm_Download::SetCaption(const std::string& caption) {
  model_.SetCaption(caption);
  setWindowTitle(QString::fromStdString(caption));
}

void TForm_Download::SetStatus(const std::string& status, TStatusColor color) {
  model_.SetStatus(status, color);
  ApplyTexts();
}

void TForm_Download::RefreshSlot(int index) {
  Guarded("TForm_Download.UpdatePartDownloadSlotInfo", [this, index] {
    model_.UpdatePartDownloadSlotInfo(ReadPartSlotInfo(downloader_, index));
    ApplyRows();
  });
}

void TForm_Download::RemoveSlot(int index) {
  Guarded("TForm_Download.DeletePartDownloadSlotInfo", [this, index] {
    if (const void* slot = downloader_.Slots().GetSlot(index)) model_.DeletePartDownloadSlotInfo(slot);
    ApplyRows();
  });
}

void TForm_Download::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  grid_->setFocus();
}

void TForm_Download::Pause() {
  // The download system hides the window on the pause and frees it later;
  // the pointer tells whether this window is still there all the same.
  const QPointer<TForm_Download> self(this);
  downloader_.Pause();
  if (self) close();
}

void TForm_Download::Abort() {
  const QPointer<TForm_Download> self(this);
  downloader_.Abort();
  if (self) close();
}

void TForm_Download::ApplyTexts() {
  const auto set = [](auto* widget, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (widget->text() != value) widget->setText(value);
  };
  // The edits show their start, as the labels do; a path or address too
  // long for the window is shown whole in the tooltip.
  const auto setEdit = [](QLineEdit* edit, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (edit->text() == value) return;
    edit->setText(value);
    edit->setCursorPosition(0);
    edit->setToolTip(value);
  };
  setEdit(editSavePath_, model_.SavePath());
  set(labelStatus_, model_.Status());
  const std::optional<uint32_t>& color = colors_.For(model_.StatusColor());
  QPalette palette = labelStatus_->palette();
  palette.setColor(QPalette::WindowText,
                   color ? ColorFromSetting(*color, this->palette()) : this->palette().color(QPalette::WindowText));
  labelStatus_->setPalette(palette);
  set(labelResume_, model_.Resume());
  buttonPause_->setEnabled(model_.PauseEnabled());
  setEdit(editUrl_, model_.Url());
  set(labelTimeLeft_, model_.TimeLeft());
  set(labelTransferRate_, model_.TransferRate());
  set(labelFileSize_, model_.FileSizeText());
  // An empty range would turn the bar into a busy indicator.
  progress_->setRange(0, std::max(1, model_.ProgressMaximum()));
  progress_->setValue(model_.ProgressPosition());
  const QString caption = QString::fromStdString(model_.Caption());
  if (windowTitle() != caption) setWindowTitle(caption);
}

void TForm_Download::ApplyRows() {
  const std::vector<TPartRow>& rows = model_.Rows();
  const int count = std::max<int>(1, static_cast<int>(rows.size()));
  if (grid_->rowCount() != count) grid_->setRowCount(count);
  for (int row = 0; row < count; ++row) {
    const bool bound = row < static_cast<int>(rows.size());
    SetCell(row, 0, bound ? rows[row].Number : "");
    SetCell(row, 1, bound ? rows[row].Size : "");
    SetCell(row, 2, bound ? rows[row].Status : "");
    SetCell(row, 3, bound ? rows[row].Location : "");
  }
}

void TForm_Download::SetCell(int row, int column, const std::string& text) {
  const QString value = QString::fromStdString(text);
  QTableWidgetItem* item = grid_->item(row, column);
  if (!item) {
    grid_->setItem(row, column, new QTableWidgetItem(value));
  } else if (item->text() != value) {
    item->setText(value);
  }
}

}  // namespace brindle
