#include "ui/qt_prompt.h"

#include <QMessageBox>

#include "core/log_error.h"

namespace brindle {
namespace {

QMessageBox* OpenBox(QWidget* parent, QMessageBox::Icon icon, const std::string& caption, const std::string& text,
                     QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName("MessageDialog");
  if (parent) box->setWindowModality(Qt::WindowModal);
  return box;
}

}  // namespace

void TQtPrompt::Ask(const std::string& caption, const std::string& question, std::function<void(bool yes)> answer) {
  QMessageBox* box = OpenBox(parent_, QMessageBox::Question, caption, question, QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::No);
  QObject::connect(box, &QMessageBox::finished, box, [box, answer = std::move(answer)](int) {
    try {
      if (answer) answer(box->clickedButton() == box->button(QMessageBox::Yes));
    } catch (...) {
      LogError("TQtPrompt.Ask");
    }
  });
  box->open();
}

void TQtPrompt::Message(const std::string& caption, const std::string& text, std::function<void()> done) {
  QMessageBox* box = OpenBox(parent_, QMessageBox::Information, caption, text, QMessageBox::Ok);
  QObject::connect(box, &QMessageBox::finished, box, [done = std::move(done)](int) {
    try {
      if (done) done();
    } catch (...) {
      LogError("TQtPrompt.Message");
    }
  });
  box->open();
}

}  // namespace brindle
