#pragma once

#include <string>
#include <vector>

#include "ui/tray_port.h"

namespace brindle::test {

// A tray that is there (or not) and remembers whether it is shown and the
// messages it showed ("title|text").
class FakeTray final : public TTrayPort {
 public:
  explicit FakeTray(bool available = false) : available_(available) {}
  bool Available() const override { return available_; }
  void SetIcon(const QIcon&) override {}
  void SetToolTip(const QString&) override {}
  void SetMenu(QMenu*) override {}
  void Show() override { shown_ = true; }
  void Hide() override { shown_ = false; }
  void ShowMessage(const QString& title, const QString& text) override {
    Messages.push_back(title.toStdString() + "|" + text.toStdString());
  }
  std::vector<std::string> Messages;

 private:
  bool available_;
  bool shown_ = false;
};

}  // namespace brindle::test
