#pragma once

class QBoxLayout;
class QDialog;
class QPushButton;

namespace brindle {

// A dialog's OK and Cancel buttons: OK is the default button and does what
// the dialog connects to it; Cancel rejects.
struct TDialogButtons {
  QPushButton* Ok = nullptr;
  QPushButton* Cancel = nullptr;
};

// Adds them at the end of row under the object names given. Without a
// cancelName OK stands alone and is no default: it closes a window that
// shows a list, where Enter belongs to the list.
TDialogButtons AddDialogButtons(QDialog& dialog, QBoxLayout& row, const char* okName, const char* cancelName);
// The same in a row of their own at the bottom of layout, to the right.
TDialogButtons AddDialogButtonRow(QDialog& dialog, QBoxLayout& layout, const char* okName, const char* cancelName);

}  // namespace brindle
