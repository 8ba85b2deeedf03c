#include "manager/download_windows.h"

namespace brindle {

std::unique_ptr<TCombineWindow> TDownloadWindowFactory::CreateCombineWindow(TDownloader&, TLocalDownloadinfo&) {
  return nullptr;
}

}  // namespace brindle
