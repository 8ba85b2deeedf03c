#pragma once

#include <QDialog>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace brindle {

class TPropertiesModel;
class TQtPrompt;

// The properties of one download. "Save To" and "Change" follow the
// record's status while the window is open (Refresh); OK checks the path's
// directory (the window stays open when it is refused) and then stores the
// path and the description through the model.
class TForm_Properties final : public QDialog {
  Q_OBJECT

 public:
  TForm_Properties(std::shared_ptr<TPropertiesModel> properties, QWidget* parent = nullptr);
  ~TForm_Properties() override;

  // The upkeep while open: whether the path may still change.
  void Refresh();
  TPropertiesModel& Model() const { return *properties_; }

 protected:
  void done(int result) override;

 private:
  void Change();
  void Finish(int result);

  std::shared_ptr<TPropertiesModel> properties_;
  std::unique_ptr<TQtPrompt> prompt_;
  bool checking_ = false;
  QLineEdit* editSaveTo_ = nullptr;
  QLineEdit* editDescription_ = nullptr;
  QLineEdit* editChecksum_ = nullptr;
  QSpinBox* spinSpeedLimit_ = nullptr;
  QPushButton* buttonChange_ = nullptr;
  QPushButton* buttonOk_ = nullptr;
  QLabel* labelStatus_ = nullptr;
  QLabel* labelSize_ = nullptr;
};

}  // namespace brindle
