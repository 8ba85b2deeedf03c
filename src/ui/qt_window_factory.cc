#include "ui/qt_window_factory.h"

#include "ui/form_combine_parts.h"
#include "ui/form_download.h"
#include "ui/form_download_complete.h"

namespace brindle {

std::unique_ptr<TNewDownloadDialog> TQtWindowFactory::CreateNewDownloadDialog(
    TDownloader&, TLocalDownloadinfo& record, std::function<void(const TNewDownloadAnswer&)> answer) {
  return std::make_unique<TForm_DownloadFileInfo>(record, std::move(answer),
                                                  FileInfoServices ? FileInfoServices() : TFileInfoWindowServices{});
}

std::unique_ptr<TDownloadWindow> TQtWindowFactory::CreateDownloadWindow(TDownloader& downloader) {
  // The properties are asked for through the factory, so a window made
  // before the handler was set still reaches it.
  return std::make_unique<TForm_Download>(downloader, [this](TDownloader& d) {
    if (OnProperties) OnProperties(d);
  });
}

std::unique_ptr<TCompleteDialog> TQtWindowFactory::CreateCompleteDialog(TDownloader&, TLocalDownloadinfo& record,
                                                                        std::function<void()> closed) {
  return std::make_unique<TForm_DownloadComplete>(record, std::move(closed));
}

// A window of its own, so it stays visible while the main window is in the tray.
std::unique_ptr<TCombineWindow> TQtWindowFactory::CreateCombineWindow(TDownloader&, TLocalDownloadinfo&) {
  return std::make_unique<TForm_CombineParts>();
}

}  // namespace brindle
