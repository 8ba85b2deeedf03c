#pragma once

#include "manager/download_windows.h"

namespace brindle {

class EventLoop;

// The windows of a front end without a display: the new-download dialog
// accepts at once the name the download system would choose without asking
// (in the default download directory), the download window shows nothing,
// and the completion dialog closes as soon as it is shown. The joining
// window is the one CombineWindows gives, if set.
class THeadlessWindowFactory final : public TDownloadWindowFactory {
 public:
  // nullptr: EventLoop::Current().
  explicit THeadlessWindowFactory(EventLoop* loop = nullptr);

  std::unique_ptr<TNewDownloadDialog> CreateNewDownloadDialog(
      TDownloader& downloader, TLocalDownloadinfo& record,
      std::function<void(const TNewDownloadAnswer&)> answer) override;
  std::unique_ptr<TDownloadWindow> CreateDownloadWindow(TDownloader& downloader) override;
  std::unique_ptr<TCompleteDialog> CreateCompleteDialog(TDownloader& downloader, TLocalDownloadinfo& record,
                                                        std::function<void()> closed) override;
  // The hook's window, or none without a hook.
  std::unique_ptr<TCombineWindow> CreateCombineWindow(TDownloader& downloader, TLocalDownloadinfo& record) override;

  // Names the download system keeps for other downloads (FileNameInUse);
  // the dialog never chooses one of them.
  std::function<bool(const std::string&)> NameInUse;
  // Supplies the joining window of a front end that has a display.
  std::function<std::unique_ptr<TCombineWindow>(TLocalDownloadinfo& record)> CombineWindows;

  int NewDownloadDialogs() const { return newDownloadDialogs_; }
  int CompleteDialogs() const { return completeDialogs_; }

 private:
  EventLoop* loop_;
  int newDownloadDialogs_ = 0;
  int completeDialogs_ = 0;
};

}  // namespace brindle
