#include "ui/dialog_buttons.h"

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>

namespace brindle {

TDialogButtons AddDialogButtons(QDialog& dialog, QBoxLayout& row, const char* okName, const char* cancelName) {
  TDialogButtons buttons;
  buttons.Ok = new QPushButton("OK", &dialog);
  buttons.Ok->setObjectName(okName);
  row.addWidget(buttons.Ok);
  if (!cancelName) {
    buttons.Ok->setAutoDefault(false);
    return buttons;
  }
  buttons.Ok->setDefault(true);
  buttons.Cancel = new QPushButton("Cancel", &dialog);
  buttons.Cancel->setObjectName(cancelName);
  row.addWidget(buttons.Cancel);
  QObject::connect(buttons.Cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  return buttons;
}

TDialogButtons AddDialogButtonRow(QDialog& dialog, QBoxLayout& layout, const char* okName, const char* cancelName) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  layout.addLayout(row);
  return AddDialogButtons(dialog, *row, okName, cancelName);
}

}  // namespace brindle
