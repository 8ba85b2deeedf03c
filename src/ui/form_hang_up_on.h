#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace brindle {

class THangUpTimer;

// "Hang Up On...": after the downloads, at a time of day, or after a number
// of minutes. OK writes the choice and arms the hang-up timer.
class TForm_HangUpOn final : public QDialog {
  Q_OBJECT

 public:
  TForm_HangUpOn(THangUpTimer& timer, QWidget* parent);

  // Loads the choice and the time from the settings.
  void Prepare();
  // The OK button: true when the dialog closed.
  bool Ok();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ChoiceChanged();

  THangUpTimer& timer_;
  QRadioButton* afterDownloads_ = nullptr;
  QRadioButton* atTime_ = nullptr;
  QRadioButton* afterMinutes_ = nullptr;
  QWidget* panelTime_ = nullptr;
  QWidget* panelMinutes_ = nullptr;
  QComboBox* time_ = nullptr;
  QLineEdit* minutes_ = nullptr;
};

}  // namespace brindle
