#include "manager/accepted_url.h"

#include "core/url.h"
#include "manager/download_file_name.h"

namespace brindle {

bool IsDownloadableUrl(const std::string& text, bool needFileName) {
  if (text.find("://") == std::string::npos) return false;
  const TUrl url(text);
  if (!IsDownloadableProtocol(url.Protocol) || url.Host.empty()) return false;
  return !needFileName || !UrlFileName(url).empty();
}

bool IsDownloadableProtocol(const std::string& protocol) {
  return protocol == "http" || protocol == "https" || protocol == "ftp";
}

}  // namespace brindle
