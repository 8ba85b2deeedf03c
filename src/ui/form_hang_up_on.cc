#include "ui/form_hang_up_on.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "integration/hang_up_timer.h"
#include "ui/center_window.h"
#include "ui/dialog_buttons.h"
#include "ui/guarded.h"

namespace brindle {

TForm_HangUpOn::TForm_HangUpOn(THangUpTimer& timer, QWidget* parent) : QDialog(parent), timer_(timer) {
  setObjectName("Form_HangUpOn");
  setWindowTitle("Hang Up On...");
  auto* outer = new QVBoxLayout(this);
  // A single border: the window takes the size of what it shows.
  outer->setSizeConstraint(QLayout::SetFixedSize);
  auto* group = new QGroupBox("Hang Up On:");
  auto* column = new QVBoxLayout(group);
  outer->addWidget(group);
  afterDownloads_ = new QRadioButton("After downloads are completed");
  afterDownloads_->setObjectName("RadioButton1");
  atTime_ = new QRadioButton("At specific time");
  atTime_->setObjectName("RadioButton2");
  afterMinutes_ = new QRadioButton("After number of minutes from now");
  afterMinutes_->setObjectName("RadioButton3");
  afterDownloads_->setChecked(true);
  for (QRadioButton* radio : {afterDownloads_, atTime_, afterMinutes_}) column->addWidget(radio);

  panelTime_ = new QWidget;
  panelTime_->setObjectName("Panel_SpecificTime");
  auto* timeRow = new QHBoxLayout(panelTime_);
  timeRow->setContentsMargins(0, 0, 0, 0);
  time_ = new QComboBox;
  time_->setObjectName("ComboBox_AtSpecificTime");
  for (int i = 0; i < 48; ++i)
    time_->addItem(QString("%1:%2").arg(i / 2, 2, 10, QChar('0')).arg(i % 2 ? 30 : 0, 2, 10, QChar('0')));
  timeRow->addWidget(time_);
  timeRow->addStretch(1);
  column->addWidget(panelTime_);

  panelMinutes_ = new QWidget;
  panelMinutes_->setObjectName("Panel_MinutesFromNow");
  auto* minutesRow = new QHBoxLayout(panelMinutes_);
  minutesRow->setContentsMargins(0, 0, 0, 0);
  minutes_ = new QLineEdit("60");
  minutes_->setObjectName("Edit_MinutesFromNow");
  minutes_->setMaximumWidth(minutes_->fontMetrics().horizontalAdvance("000000") + 12);
  minutes_->installEventFilter(this);
  minutesRow->addWidget(new QLabel("Hang Up:"));
  minutesRow->addWidget(minutes_);
  minutesRow->addWidget(new QLabel("minutes from now."));
  minutesRow->addStretch(1);
  column->addWidget(panelMinutes_);

  connect(AddDialogButtonRow(*this, *outer, "SpeedButton_OK", "SpeedButton_Abort").Ok, &QPushButton::clicked, this,
          [this] { Guarded("TForm_HangUpOn.SpeedButton_OKClick", [this] { Ok(); }); });
  for (QRadioButton* radio : {afterDownloads_, atTime_, afterMinutes_})
    connect(radio, &QRadioButton::toggled, this, [this] { ChoiceChanged(); });
  ChoiceChanged();
}

void TForm_HangUpOn::Prepare() {
  const THangUpTimer::TShown shown = THangUpTimer::Load(Now());
  afterDownloads_->setChecked(shown.Choice == THangUpTimer::TChoice::AfterDownloads);
  atTime_->setChecked(shown.Choice == THangUpTimer::TChoice::AtSpecificTime);
  afterMinutes_->setChecked(shown.Choice == THangUpTimer::TChoice::AfterMinutes);
  time_->setCurrentIndex(shown.TimeIndex);
  minutes_->setText(QString::number(shown.Minutes));
  ChoiceChanged();
  if (parentWidget() && parentWidget()->isVisible())
    CenterWindow(*this, parentWidget()->frameGeometry());
}

void TForm_HangUpOn::ChoiceChanged() {
  panelTime_->setVisible(atTime_->isChecked());
  panelMinutes_->setVisible(afterMinutes_->isChecked());
  if (atTime_->isChecked()) time_->setFocus();
  if (afterMinutes_->isChecked()) minutes_->setFocus();
}

bool TForm_HangUpOn::Ok() {
  minutes_->setText(QString::fromStdString(THangUpTimer::MinutesOnLeave(minutes_->text().toStdString())));
  const THangUpTimer::TChoice choice = atTime_->isChecked()        ? THangUpTimer::TChoice::AtSpecificTime
                                       : afterMinutes_->isChecked() ? THangUpTimer::TChoice::AfterMinutes
                                                                    : THangUpTimer::TChoice::AfterDownloads;
  bool ok = true;
  const std::optional<int64_t> interval =
      timer_.Arm(choice, time_->currentIndex(), minutes_->text().toStdString(), Now(), &ok);
  if (!ok) {
    // The choices are written; the window stays for a number.
    QMessageBox::warning(this, "Hang Up On...",
                         QString::fromStdString(THangUpTimer::InvalidMinutes(minutes_->text().toStdString())));
    minutes_->setFocus();
    return false;
  }
  accept();
  if (interval) {
    // Told after the window closed, without a nested loop.
    auto* box = new QMessageBox(QMessageBox::Information, "Hang Up On...", QString::number(*interval),
                                QMessageBox::Ok, parentWidget());
    box->setObjectName("MessageDialog");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
  return true;
}

bool TForm_HangUpOn::eventFilter(QObject* watched, QEvent* event) {
  if (watched == minutes_) {
    if (event->type() == QEvent::KeyPress) {
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (!text.isEmpty() && text[0].isPrint() && !text[0].isDigit()) return true;
    } else if (event->type() == QEvent::FocusOut) {
      minutes_->setText(QString::fromStdString(THangUpTimer::MinutesOnLeave(minutes_->text().toStdString())));
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace brindle
