#pragma once

#include <functional>
#include <string>

#include "manager/download_windows.h"
#include "manager/headless_windows.h"

namespace brindle {

class EventLoop;

// The windows of one download in the desktop program. The new-download
// and completion dialogs are still the headless ones.
class TQtWindowFactory final : public TDownloadWindowFactory {
 public:
  explicit TQtWindowFactory(EventLoop& loop);

  std::unique_ptr<TNewDownloadDialog> CreateNewDownloadDialog(
      TDownloader& downloader, TLocalDownloadinfo& record,
      std::function<void(const TNewDownloadAnswer&)> answer) override;
  std::unique_ptr<TDownloadWindow> CreateDownloadWindow(TDownloader& downloader) override;
  std::unique_ptr<TCompleteDialog> CreateCompleteDialog(TDownloader& downloader, TLocalDownloadinfo& record,
                                                        std::function<void()> closed) override;
  std::unique_ptr<TCombineWindow> CreateCombineWindow(TDownloader& downloader, TLocalDownloadinfo& record) override;

  // Names the download system keeps for other downloads (FileNameInUse).
  std::function<bool(const std::string&)> NameInUse;
  // "Properties" of a download window.
  std::function<void(TDownloader&)> OnProperties;

 private:
  THeadlessWindowFactory headless_;
};

}  // namespace brindle
