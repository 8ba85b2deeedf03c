#pragma once

#include <QDialog>
#include <string>

class QComboBox;
class QLabel;

namespace brindle {

class TUrlHistory;

// "Enter URL to download:": one editable line over the recent addresses.
// OK (or Enter) accepts a downloadable address into the history, and says
// under the line why any other text is refused, keeping the dialog open;
// Cancel or Esc rejects.
class TForm_AddURL final : public QDialog {
  Q_OBJECT

 public:
  TForm_AddURL(TUrlHistory& history, QWidget* parent = nullptr);

  // The history into the drop-down (newest on top) and initialUrl typed in.
  void Prepare(const std::string& initialUrl);
  std::string Url() const;

 private:
  void Ok();

  TUrlHistory& history_;
  QComboBox* comboUrl_ = nullptr;
  QLabel* labelRefused_ = nullptr;
};

}  // namespace brindle
