#pragma once

#include <QWidget>
#include <functional>

#include "manager/download_window_model.h"
#include "manager/download_windows.h"
#include "manager/status_colors.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace brindle {

class TDownloader;

// "File Download": the progress of one download, part by part. The download
// system creates, refreshes, hides and destroys it; closing it only hides it.
class TForm_Download final : public QWidget, public TDownloadWindow {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 16;

  explicit TForm_Download(TDownloader& downloader, std::function<void(TDownloader&)> showProperties = nullptr);

  // TDownloadWindow
  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void Refresh() override;
  void SetCaption(const std::string& caption) override;
  void SetStatus(const std::string& status, TStatusColor color) override;
  void RefreshSlot(int index) override;
  void RemoveSlot(int index) override;

  // Refreshes every control from a snapshot of the download.
  void UpdateInfo(const TDownloadSnapshot& snapshot);
  const TDownloadWindowModel& Model() const { return model_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Pause();
  void Abort();
  void ApplyTexts();
  void ApplyRows();
  void SetCell(int row, int column, const std::string& text);

  TDownloader& downloader_;
  std::function<void(TDownloader&)> showProperties_;
  TDownloadWindowModel model_;
  TStatusColors colors_;
  QLineEdit* editSavePath_ = nullptr;
  QLabel* labelStatus_ = nullptr;
  QLabel* labelResume_ = nullptr;
  QLineEdit* editUrl_ = nullptr;
  QLabel* labelTimeLeft_ = nullptr;
  QLabel* labelTransferRate_ = nullptr;
  QLabel* labelFileSize_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* buttonPause_ = nullptr;
  QPushButton* buttonAbort_ = nullptr;
  QPushButton* buttonProperties_ = nullptr;
};

}  // namespace brindle
