#pragma once

#include <memory>

#include "manager/download_windows.h"
#include "manager/row_progress.h"

namespace brindle {

class TCombineParts;
class TDownloader;
class TLocalDownloadinfo;

// What the download list reads of a running downloader.
class TDownloaderProgress final : public TRowProgress {
 public:
  explicit TDownloaderProgress(TDownloader& downloader) : downloader_(downloader) {}
  int64_t TransferCount() const override;
  std::string TransferRate() const override;
  std::string TimeLeft() const override;
  std::vector<TPartProgress> Parts() const override;

 private:
  TDownloader& downloader_;
};

// Everything that belongs to one downloader: its windows, the joining of
// its parts and the downloader itself. Destroyed only by the download
// system's release timer, never inside a notification.
class TDownloadForms {
 public:
  explicit TDownloadForms(std::unique_ptr<TDownloader> downloader);
  // The windows first, then the joining, then the downloader.
  ~TDownloadForms();
  TDownloadForms(const TDownloadForms&) = delete;
  TDownloadForms& operator=(const TDownloadForms&) = delete;

  TDownloader& Downloader() const { return *downloader_; }
  TDownloaderProgress& Progress() const { return *progress_; }

  std::unique_ptr<TNewDownloadDialog> NewDownloadDialog;
  std::unique_ptr<TDownloadWindow> DownloadWindow;
  std::unique_ptr<TCompleteDialog> CompleteDialog;
  std::unique_ptr<TCombineParts> Combiner;
  // Shown while Combiner runs.
  std::unique_ptr<TCombineWindow> CombineWindow;
  bool Release = false;
  // Released after its record became "Done" (the after-downloads actions
  // look at this).
  bool Completed = false;
  // A record that left the download list while its downloader still
  // refers to it; freed after the downloader.
  std::unique_ptr<TLocalDownloadinfo> KeptRecord;

 private:
  std::unique_ptr<TDownloader> downloader_;
  std::unique_ptr<TDownloaderProgress> progress_;
};

}  // namespace brindle
