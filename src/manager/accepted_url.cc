#include "manager/accepted_url.h"

#include "core/url.h"

namespace brindle {

bool IsDownloadableUrl(const std::string& text, bool needFileName) {
  if (text.find("://") == std::string::npos) return false;
  const TUrl url(text);
  if (url.Protocol != "http" && url.Protocol != "https" && url.Protocol != "ftp") return false;
  if (url.Host.empty()) return false;
  return !needFileName || !url.FileName.empty();
}

}  // namespace brindle
