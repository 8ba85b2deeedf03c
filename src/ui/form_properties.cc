#include "ui/form_properties.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "manager/download_file_info.h"
#include "manager/properties_model.h"
#include "manager/status_colors.h"
#include "ui/download_table_model.h"
#include "ui/dialog_buttons.h"
#include "ui/form_download_file_info.h"
#include "ui/guarded.h"
#include "ui/qt_prompt.h"

namespace brindle {
namespace {

// A status may hold digests, runs of up to 128 characters without a blank:
// a zero-width space every 32 of them lets the label wrap there instead of
// widening the window past the screen.
QString Breakable(const std::string& text) {
  QString breakable;
  int run = 0;
  for (const QChar c : QString::fromStdString(text)) {
    run = c.isSpace() ? 0 : run + 1;
    if (run > 32) {
      breakable += QChar(0x200B);
      run = 1;
    }
    breakable += c;
  }
  return breakable;
}

}  // namespace

TForm_Properties::TForm_Properties(std::shared_ptr<TPropertiesModel> properties, QWidget* parent)
    : QDialog(parent), properties_(std::move(properties)), prompt_(std::make_unique<TQtPrompt>(this)) {
  setObjectName("Form_Properties");
  setWindowTitle(QString::fromStdString(properties_->Caption()));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto* url = new QLineEdit(QString::fromStdString(properties_->Url()), this);
  url->setObjectName("Edit_URL");
  url->setReadOnly(true);
  form->addRow("URL:", url);
  auto* saveRow = new QHBoxLayout;
  editSaveTo_ = new QLineEdit(QString::fromStdString(properties_->SaveTo()), this);
  editSaveTo_->setObjectName("Edit_SaveTo");
  buttonChange_ = new QPushButton("Change", this);
  buttonChange_->setObjectName("Button_Change");
  saveRow->addWidget(editSaveTo_, 1);
  saveRow->addWidget(buttonChange_);
  form->addRow("Save To:", saveRow);
  form->addRow("Category:", new QLabel(QString::fromStdString(properties_->CategoryName()), this));
  editDescription_ = new QLineEdit(QString::fromStdString(properties_->Description()), this);
  editDescription_->setObjectName("Edit_Description");
  form->addRow("Description:", editDescription_);
  editChecksum_ = new QLineEdit(QString::fromStdString(properties_->Checksum()), this);
  editChecksum_->setObjectName("Edit_Checksum");
  editChecksum_->setCursorPosition(0);
  editChecksum_->setPlaceholderText(TForm_DownloadFileInfo::kChecksumPlaceholder);
  form->addRow("Checksum:", editChecksum_);
  spinSpeedLimit_ = new QSpinBox(this);
  spinSpeedLimit_->setObjectName("SpinEdit_SpeedLimit");
  spinSpeedLimit_->setRange(0, 1024 * 1024);
  spinSpeedLimit_->setSingleStep(10);
  spinSpeedLimit_->setSuffix(" kb/s");
  spinSpeedLimit_->setSpecialValueText("Unlimited");
  spinSpeedLimit_->setValue(static_cast<int>(std::min<int64_t>(properties_->SpeedLimit(), 1024 * 1024)));
  spinSpeedLimit_->setToolTip("This download's own limit; the global limit still applies");
  form->addRow("Speed limit:", spinSpeedLimit_);
  labelStatus_ = new QLabel(this);
  labelStatus_->setObjectName("Label_Status");
  labelStatus_->setWordWrap(true);
  form->addRow("Status:", labelStatus_);
  labelSize_ = new QLabel(this);
  labelSize_->setObjectName("Label_Size");
  form->addRow("Size:", labelSize_);
  layout->addLayout(form);
  buttonOk_ = AddDialogButtonRow(*this, *layout, "Button_OK", "Button_Cancel").Ok;
  connect(buttonChange_, &QPushButton::clicked, this, [this] { Change(); });
  connect(buttonOk_, &QPushButton::clicked, this, &QDialog::accept);
  resize(std::max(TPropertiesModel::StoredWidth(), 400), std::max(TPropertiesModel::StoredHeight(), 200));
  Refresh();
}

TForm_Properties::~TForm_Properties() = default;

void TForm_Properties::Refresh() {
  const bool editable = properties_->PathEditable();
  editSaveTo_->setReadOnly(!editable);
  editChecksum_->setReadOnly(!editable);
  buttonChange_->setEnabled(editable);
  // A finished download keeps its path, but its description can still be
  // edited and stored, so OK stays while the record exists.
  buttonOk_->setVisible(properties_->RecordExists());
  labelStatus_->setText(Breakable(properties_->Status()));
  // In the colour the list gives that status.
  const std::optional<uint32_t> color = LoadColorSettingsFromRegistry().For(properties_->StatusColor());
  QPalette palette = labelStatus_->palette();
  palette.setColor(QPalette::WindowText,
                   color ? ColorFromSetting(*color, this->palette()) : this->palette().color(QPalette::WindowText));
  labelStatus_->setPalette(palette);
  labelSize_->setText(QString::fromStdString(properties_->SizeText()));
  // A status that wraps (a checksum mismatch with its digests) is shown
  // whole: the window grows to hold it.
  if (const int needed = layout()->totalHeightForWidth(width()); needed > height()) resize(width(), needed);
}

void TForm_Properties::Change() {
  const TSaveDialogSetup setup = properties_->ChangeDialog(editSaveTo_->text().toStdString());
  QFileDialog dialog(this, "Save as...", QString::fromStdString(setup.InitialDirectory));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.selectFile(QString::fromStdString(setup.FileName));
  if (!setup.Extension.empty()) {
    dialog.setDefaultSuffix(QString::fromStdString(setup.Extension));
    dialog.setNameFilters({QString("*.%1").arg(QString::fromStdString(setup.Extension)), "All files (*)"});
  }
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    editSaveTo_->setText(dialog.selectedFiles().first());
}

void TForm_Properties::done(int result) {
  if (result != QDialog::Accepted) return Finish(result);
  if (checking_) return;
  std::optional<TChecksum> checksum;
  if (properties_->PathEditable() &&
      !TDownloadFileInfo::ChecksumCorrect(editChecksum_->text().toStdString(), *prompt_, checksum)) {
    editChecksum_->setFocus();
    return;
  }
  checking_ = true;
  // The questions and messages are answered later, over this window.
  const QPointer<TForm_Properties> self(this);
  Guarded("TForm_Properties.OK", [this, self, checksum] {
    properties_->CheckSaveTo(editSaveTo_->text().toStdString(), *prompt_, [self, checksum](bool ok) {
      if (!self) return;
      self->checking_ = false;
      if (!ok) {
        self->editSaveTo_->setFocus();
        return;
      }
      self->properties_->Ok(self->editSaveTo_->text().toStdString(), self->editDescription_->text().toStdString(),
                            self->spinSpeedLimit_->value(), checksum);
      self->Finish(QDialog::Accepted);
    });
  });
}

void TForm_Properties::Finish(int result) {
  TPropertiesModel::StoreSize(width(), height());
  QDialog::done(result);
}

}  // namespace brindle
