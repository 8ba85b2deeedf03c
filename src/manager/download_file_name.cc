#include "manager/download_file_name.h"

#include "core/date_folder.h"
#include "core/file_names.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/url.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string UniqueFileIn(const std::string& dir, const std::string& name,
                         const std::function<bool(const std::string&)>& inUse) {
  EnsureDirectory(dir);
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  return MakeUniqueFileName(base + name, inUse);
}

}  // namespace

std::string UrlFileName(const TUrl& url) {
  const std::string name = LimitFileNameLength(ReplaceControlCharacters(ReplaceSpaceCodes(url.FileName)));
  return name == "." || name == ".." ? "" : name;
}

std::string LocalNameFromUrl(const TUrl& url) {
  const std::string name = UrlFileName(url);
  return name.empty() ? "index.html" : name;
}

std::string DownloadDirectorySetting() { return WithoutTrailingSlash(Read(setting::DefaultDownloadDirectory)); }

std::string ChooseLocalFileName(TLocalDownloadinfo& record, const TFileNameChoice& choice) {
  std::string name = choice.Name;
  if (name.empty()) name = record.ProposedFileName.empty() ? LocalNameFromUrl(*record.Url) : record.ProposedFileName;
  if (!choice.Directory.empty() || !choice.Name.empty())
    return UniqueFileIn(choice.Directory.empty() ? DownloadDirectorySetting() : choice.Directory, name, choice.InUse);
  if (choice.Categories) record.Category = choice.Categories->GetByFileName(name);
  if (const TCategory* category = record.Category; category && category->AutoSave() && !category->SaveFolder().empty())
    return UniqueFileIn(WithoutTrailingSlash(category->SaveFolder()), name, choice.InUse);
  if (Read(setting::DateFolders))
    return UniqueFileIn(DownloadDirectorySetting() + "/" + GetDateFolderName(), name, choice.InUse);
  if (choice.MayAsk && Read(setting::ShowSaveDialog)) return "";
  return UniqueFileIn(DownloadDirectorySetting(), name, choice.InUse);
}

}  // namespace brindle
