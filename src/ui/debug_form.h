#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace brindle {

// "DebugForm": the transfer engine's trace lines, one a line, newest last.
class TDebugForm final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxLines = 5000;

  explicit TDebugForm(QWidget* parent);
  void AddLine(const QString& line);
  QPlainTextEdit* Memo() const { return memo_; }

 private:
  QPlainTextEdit* memo_ = nullptr;
};

}  // namespace brindle
