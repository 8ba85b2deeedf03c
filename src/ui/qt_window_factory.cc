#include "ui/qt_window_factory.h"

#include "ui/form_combine_parts.h"
#include "ui/form_download.h"

namespace brindle {

TQtWindowFactory::TQtWindowFactory(EventLoop& loop) : headless_(&loop) {}

std::unique_ptr<TNewDownloadDialog> TQtWindowFactory::CreateNewDownloadDialog(
    TDownloader& downloader, TLocalDownloadinfo& record, std::function<void(const TNewDownloadAnswer&)> answer) {
  headless_.NameInUse = NameInUse;
  return headless_.CreateNewDownloadDialog(downloader, record, std::move(answer));
}

std::unique_ptr<TDownloadWindow> TQtWindowFactory::CreateDownloadWindow(TDownloader& downloader) {
  // The properties are asked for through the factory, so a window made
  // before the handler was set still reaches it.
  return std::make_unique<TForm_Download>(downloader, [this](TDownloader& d) {
    if (OnProperties) OnProperties(d);
  });
}

std::unique_ptr<TCompleteDialog> TQtWindowFactory::CreateCompleteDialog(TDownloader& downloader,
                                                                        TLocalDownloadinfo& record,
                                                                        std::function<void()> closed) {
  return headless_.CreateCompleteDialog(downloader, record, std::move(closed));
}

// A window of its own, so it stays visible while the main window is in the tray.
std::unique_ptr<TCombineWindow> TQtWindowFactory::CreateCombineWindow(TDownloader&, TLocalDownloadinfo&) {
  return std::make_unique<TForm_CombineParts>();
}

}  // namespace brindle
