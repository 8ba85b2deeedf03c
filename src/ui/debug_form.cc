#include "ui/debug_form.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace brindle {

TDebugForm::TDebugForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("DebugForm");
  setWindowTitle("DebugForm");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // A long session's trace does not grow without end.
  memo_->setMaximumBlockCount(kMaxLines);
  layout->addWidget(memo_);
  resize(600, 300);
}

void TDebugForm::AddLine(const QString& line) { memo_->appendPlainText(line); }

}  // namespace brindle
