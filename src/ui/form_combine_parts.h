#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "manager/download_windows.h"

class QLabel;
class QProgressBar;

namespace brindle {

// "Combining Files...": the target of a join and how much of it is
// written. Fed on the loop's thread from the joining worker's posted
// progress; the worker never reaches it.
class TForm_CombineParts final : public QWidget, public TCombineWindow {
  Q_OBJECT

 public:
  static constexpr int kMinimumWidth = 342;
  static constexpr int kMaximumWidth = 640;

  explicit TForm_CombineParts(QWidget* parent = nullptr);

  void Show() override;
  void SetProgress(const std::string& lclFileName, int64_t written, int64_t total) override;

  QLabel* Label() const { return label_; }
  QProgressBar* ProgressBar() const { return bar_; }

 private:
  void ShowTarget(const std::string& lclFileName);

  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
  std::string target_;
};

}  // namespace brindle
