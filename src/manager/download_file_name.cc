#include "manager/download_file_name.h"

#include "core/file_names.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/url.h"
#include "manager/local_download_info.h"

namespace brindle {

std::string UrlFileName(const TUrl& url) {
  const std::string name = LimitFileNameLength(ReplaceControlCharacters(ReplaceSpaceCodes(url.FileName)));
  return name == "." || name == ".." ? "" : name;
}

std::string LocalNameFromUrl(const TUrl& url) {
  const std::string name = UrlFileName(url);
  return name.empty() ? "index.html" : name;
}

std::string DownloadDirectorySetting() {
  std::string dir = ReadString(kOptionsSection, "DefaultDownloadDirectory", DefaultDownloadDirectory());
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string LocalNameOf(const TLocalDownloadinfo& record) {
  return record.ProposedFileName.empty() ? LocalNameFromUrl(*record.Url) : record.ProposedFileName;
}

std::string UniqueFileInDirectory(const std::string& dir, const TLocalDownloadinfo& record,
                                  const std::function<bool(const std::string&)>& inUse) {
  EnsureDirectory(dir);
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  return MakeUniqueFileName(base + LocalNameOf(record), inUse);
}

std::string DefaultLocalFileName(const TLocalDownloadinfo& record,
                                 const std::function<bool(const std::string&)>& inUse) {
  return UniqueFileInDirectory(DownloadDirectorySetting(), record, inUse);
}

}  // namespace brindle
