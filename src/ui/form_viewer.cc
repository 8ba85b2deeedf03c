#include "ui/form_viewer.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/window_bounds.h"

namespace brindle {

TForm_Viewer::TForm_Viewer(const std::string& path, const std::string& text, const QColor& background,
                           QWidget* parent)
    : QDialog(parent) {
  setObjectName("Form_Viewer");
  setWindowTitle("Brindle - File Viewer");
  setToolTip(QString::fromStdString(path));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setPlainText(QString::fromStdString(text));
  QPalette palette = memo_->palette();
  palette.setColor(QPalette::Base, background);
  memo_->setPalette(palette);
  layout->addWidget(memo_);
  SetWindowBounds(*this, LoadPosition(kPositionSection));
}

void TForm_Viewer::done(int result) {
  SavePosition(kPositionSection, WindowBounds(*this));
  QDialog::done(result);
}

}  // namespace brindle
