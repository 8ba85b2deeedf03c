#include "ui/dropped_links.h"

#include <QMimeData>
#include <QUrl>

#include "manager/accepted_url.h"
#include "manager/ignored_links.h"

namespace brindle {

std::vector<std::string> DroppedAddresses(const QMimeData& data) {
  std::vector<std::string> texts;
  for (const QUrl& url : data.urls()) texts.push_back(url.toString().toStdString());
  if (!data.hasUrls() && data.hasText()) texts.push_back(data.text().toStdString());
  std::vector<std::string> addresses;
  for (const std::string& text : texts) {
    const std::string address = DownloadableAddress(text, true);
    if (!address.empty() && !IsIgnoredLink(address)) addresses.push_back(address);
  }
  return addresses;
}

}  // namespace brindle
