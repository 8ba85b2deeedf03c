#pragma once

#include <QMessageBox>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/settings.h"
#include "support/fake_tray.h"
#include "support/ui_test.h"
#include "ui/form_main.h"

namespace brindle::test {

// Main windows on the test's loop, downloading into the test's directory.
class MainWindowTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteString(kOptionsSection, "DefaultDownloadDirectory", temp_.File("downloads"));
    WriteBool(kOptionsSection, "ShowDownloadWindow", false);
    // A new download takes its name without the "Save as..." window.
    WriteBool(kOptionsSection, "ShowSaveDialog", false);
  }
  std::unique_ptr<TForm_Main> NewForm(bool trayAvailable = false) {
    return std::make_unique<TForm_Main>(loop_, std::make_unique<FakeTray>(trayAvailable), std::vector<std::string>{});
  }
  // The named child; a missing one fails the test.
  template <class T>
  static T* Find(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  // Answers the question open over parent and gives its text.
  static std::string Answer(const QObject& parent, QMessageBox::StandardButton button) {
    auto* box = parent.findChild<QMessageBox*>("MessageDialog");
    EXPECT_NE(box, nullptr) << "no question is open";
    if (!box) return "";
    const std::string text = box->text().toStdString();
    box->button(button)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
  }

  EventLoop loop_;
};

}  // namespace brindle::test
