#pragma once

#include <QPointer>
#include <QWidget>

#include "core/prompt_port.h"

namespace brindle {

// Questions and messages as message boxes modal to the main window, opened
// without a nested loop; the answer arrives when the user closes the box.
class TQtPrompt final : public PromptPort {
 public:
  explicit TQtPrompt(QWidget* parent) : parent_(parent) {}

  void Ask(const std::string& caption, const std::string& question, std::function<void(bool yes)> answer) override;
  void Message(const std::string& caption, const std::string& text, std::function<void()> done) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace brindle
