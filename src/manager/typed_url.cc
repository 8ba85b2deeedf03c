#include "manager/typed_url.h"

#include "core/url.h"
#include "manager/accepted_url.h"

namespace brindle {

std::unique_ptr<TUrl> AcceptTypedUrl(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return nullptr;
  const std::string trimmed = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  auto url = std::make_unique<TUrl>(trimmed);
  if (!IsDownloadableProtocol(url->Protocol) || url->Host.empty()) return nullptr;
  return url;
}

}  // namespace brindle
