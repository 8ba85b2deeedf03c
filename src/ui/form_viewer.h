#pragma once

#include <QColor>
#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace brindle {

// The text viewer: one file's text, read-only; Esc closes.
class TForm_Viewer final : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kPositionSection = "Form_Viewer Position";

  TForm_Viewer(const std::string& path, const std::string& text, const QColor& background, QWidget* parent = nullptr);
  QPlainTextEdit* Memo() const { return memo_; }

 protected:
  void done(int result) override;

 private:
  QPlainTextEdit* memo_ = nullptr;
};

}  // namespace brindle
