#pragma once

#include <QDialog>
#include <functional>

#include "manager/download_complete_model.h"
#include "manager/download_windows.h"

class QCheckBox;
class QPushButton;

namespace brindle {

class TLocalDownloadinfo;

// "Download Complete": tells that a download finished and offers to open
// the file or its folder, or for a ZIP archive to extract it and run its
// installer. A top-level window of its own; whichever way it closes, the
// download system hears it once (closed) and frees the window later.
class TForm_DownloadComplete final : public QDialog, public TCompleteDialog {
  Q_OBJECT

 public:
  TForm_DownloadComplete(const TLocalDownloadinfo& record, std::function<void()> closed, QWidget* parent = nullptr);

  void Show() override;
  TDownloadCompleteModel& Model() { return model_; }

 protected:
  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs a command; the window closes when the command says so.
  void Command(const char* name, const std::function<TDownloadCompleteModel::TAfter()>& command);
  void UnZip();

  TDownloadCompleteModel model_;
  QCheckBox* chkboxShowDialog_ = nullptr;
  bool busy_ = false;
};

}  // namespace brindle
