#include "manager/accepted_url.h"

#include "core/text_file.h"
#include "core/url.h"
#include "manager/download_file_name.h"

namespace brindle {

std::string DownloadableAddress(const std::string& text, bool needFileName) {
  std::string address = Trimmed(text);
  if (address.find("://") == std::string::npos) {
    // TUrl takes any text beginning with "www" or "ftp" for an address; a
    // word such as "wwwhat" is none.
    const TUrl guessed(address);
    if (guessed.Host.find('.') == std::string::npos) return "";
    address = guessed.Protocol + "://" + address;
  }
  const TUrl url(address);
  if (!IsDownloadableProtocol(url.Protocol) || url.Host.empty()) return "";
  if (needFileName && UrlFileName(url).empty()) return "";
  return address;
}

std::string RefusedAddressText(const std::string& text) {
  const std::string shown = Trimmed(text);
  if (shown.empty()) return "Please enter the address of the file to download.";
  return "\"" + shown +
         "\" is not an address Brindle can download. An address begins with http://, https:// or ftp:// (or "
         "www.) and names a server.";
}

bool IsDownloadableProtocol(const std::string& protocol) {
  return protocol == "http" || protocol == "https" || protocol == "ftp";
}

}  // namespace brindle
