#include "ui/form_combine_parts.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace brindle {

TForm_CombineParts::TForm_CombineParts(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("Form_CombineParts");
  setWindowTitle("Combining Files...");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);
  label_ = new QLabel("Combining Files...", this);
  label_->setObjectName("Label1");
  layout->addWidget(label_);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("ProgressBar1");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(bar_);
  setFixedSize(kMinimumWidth, sizeHint().height());
}

void TForm_CombineParts::Show() {
  show();
  raise();
}

void TForm_CombineParts::SetProgress(const std::string& lclFileName, int64_t written, int64_t total) {
  if (lclFileName != target_) ShowTarget(lclFileName);
  if (total <= 0) return;
  // The bar counts in int: a file of 2 GiB or more is shown in coarser steps.
  const int64_t step = total / INT_MAX + 1;
  bar_->setMaximum(static_cast<int>(total / step));
  bar_->setValue(static_cast<int>(std::clamp<int64_t>(written, 0, total) / step));
}

void TForm_CombineParts::ShowTarget(const std::string& lclFileName) {
  target_ = lclFileName;
  const QString text = "Writing to: " + QString::fromStdString(lclFileName);
  // The window grows to show the whole path up to a limit; a longer one
  // loses its middle, and the tooltip still names it in full.
  const QMargins margins = layout()->contentsMargins();
  const QFontMetrics metrics(label_->font());
  const int width = std::clamp(metrics.horizontalAdvance(text) + margins.left() + margins.right() + 2,
                               kMinimumWidth, kMaximumWidth);
  setFixedWidth(width);
  label_->setText(metrics.elidedText(text, Qt::ElideMiddle, width - margins.left() - margins.right()));
  label_->setToolTip(text);
}

}  // namespace brindle
