#include "ui/form_add_url.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "manager/accepted_url.h"
#include "manager/url_history.h"
#include "ui/dialog_buttons.h"

namespace brindle {

TForm_AddURL::TForm_AddURL(TUrlHistory& history, QWidget* parent) : QDialog(parent), history_(history) {
  setObjectName("Form_AddURL");
  setWindowTitle("Enter URL to download:");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  comboUrl_ = new QComboBox(this);
  comboUrl_->setObjectName("ComboBox_URL");
  comboUrl_->setEditable(true);
  comboUrl_->setMaxVisibleItems(10);
  comboUrl_->setInsertPolicy(QComboBox::NoInsert);
  comboUrl_->setMinimumWidth(400);
  row->addWidget(comboUrl_, 1);
  const TDialogButtons buttons = AddDialogButtons(*this, *row, "SpeedButton_OK", "SpeedButton_Abort");
  layout->addLayout(row);
  labelRefused_ = new QLabel(this);
  labelRefused_->setObjectName("Label_Refused");
  labelRefused_->setWordWrap(true);
  labelRefused_->setStyleSheet("color: #b00000;");
  labelRefused_->hide();
  layout->addWidget(labelRefused_);
  // A changed text is judged again at the next OK.
  connect(comboUrl_, &QComboBox::editTextChanged, labelRefused_, &QWidget::hide);
  connect(buttons.Ok, &QPushButton::clicked, this, [this] { Ok(); });
  // Enter in the line accepts like OK.
  connect(comboUrl_->lineEdit(), &QLineEdit::returnPressed, this, [this] { Ok(); });
}

void TForm_AddURL::Prepare(const std::string& initialUrl) {
  comboUrl_->clear();
  const auto& items = history_.Items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) comboUrl_->addItem(QString::fromStdString(*it));
  comboUrl_->setEditText(QString::fromStdString(initialUrl));
  comboUrl_->lineEdit()->selectAll();
  comboUrl_->setFocus();
}

std::string TForm_AddURL::Url() const { return comboUrl_->currentText().trimmed().toStdString(); }

void TForm_AddURL::Ok() {
  // What would become no download is said here, and the text stays to be
  // corrected.
  if (DownloadableAddress(Url(), false).empty()) {
    labelRefused_->setText(QString::fromStdString(RefusedAddressText(Url())));
    labelRefused_->show();
    // The wrapped reason gets the room it needs below the line.
    const int needed = heightForWidth(width());
    resize(width(), std::max(height(), needed > 0 ? needed : sizeHint().height()));
    comboUrl_->setFocus();
    comboUrl_->lineEdit()->selectAll();
    return;
  }
  history_.Add(Url());
  accept();
}

}  // namespace brindle
