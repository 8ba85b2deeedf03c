#pragma once

#include <functional>
#include <memory>

#include "manager/download_windows.h"
#include "ui/form_download_file_info.h"

namespace brindle {

// The windows of one download in the desktop program. Each is a top-level
// window of its own (its own taskbar button) owned by the download system,
// so none has a Qt parent that would delete it a second time.
class TQtWindowFactory final : public TDownloadWindowFactory {
 public:
  std::unique_ptr<TNewDownloadDialog> CreateNewDownloadDialog(
      TDownloader& downloader, TLocalDownloadinfo& record,
      std::function<void(const TNewDownloadAnswer&)> answer) override;
  std::unique_ptr<TDownloadWindow> CreateDownloadWindow(TDownloader& downloader) override;
  std::unique_ptr<TCompleteDialog> CreateCompleteDialog(TDownloader& downloader, TLocalDownloadinfo& record,
                                                        std::function<void()> closed) override;
  std::unique_ptr<TCombineWindow> CreateCombineWindow(TDownloader& downloader, TLocalDownloadinfo& record) override;

  // What every "Save as..." window is handed; asked for each window, so it
  // follows the main window's categories and command line.
  std::function<TFileInfoWindowServices()> FileInfoServices;
  // "Properties" of a download window.
  std::function<void(TDownloader&)> OnProperties;
};

}  // namespace brindle
