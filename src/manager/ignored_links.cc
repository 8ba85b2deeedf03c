#include "manager/ignored_links.h"

#include "core/settings_schema.h"

namespace brindle {

void IgnoreLink(const std::string& url) {
  const int count = Read(setting::IgnoreLinksCount) + 1;
  Write(setting::IgnoreLinksCount, count);
  Write(setting::IgnoredLink(count), url);
}

bool IsIgnoredLink(const std::string& url) {
  if (url.empty()) return false;
  const int count = Read(setting::IgnoreLinksCount);
  for (int number = 1; number <= count; ++number)
    if (Read(setting::IgnoredLink(number)) == url) return true;
  return false;
}

}  // namespace brindle
