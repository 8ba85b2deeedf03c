#include "manager/temp_directory_cleanup.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "core/file_names.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(path, ec);
}

std::string StemOf(const std::string& name) { return name.substr(0, name.find('.')); }

}  // namespace

bool IsOwnPartFileName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot != 8 || dot + 1 >= name.size() || !HasNumericExtension(name)) return false;
  for (size_t i = 0; i < dot; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

void CleanUpTempDirectory(const TCategoryList* categories) {
  try {
    const bool removeUnexisting = Read(setting::RemoveUnexistingFilesFromList);
    std::set<std::string> localFiles;
    std::set<std::string> keptStems;
    for (const std::string& datPath : TDownloadSystem::GetDatFileNames()) {
      try {
        const std::string base = datPath.substr(0, datPath.size() - 4);
        TLocalDownloadinfo record(nullptr, base, categories);
        const std::string& local = record.LocalFileName;
        bool keep = !local.empty() && localFiles.insert(local).second;
        if (keep && removeUnexisting && record.Status() == TDownloadState::Done && !Exists(local)) keep = false;
        if (keep && record.Status() == TDownloadState::Downloading && !Exists(base + ".0")) keep = false;
        if (keep) {
          keptStems.insert(StemOf(fs::path(datPath).filename().string()));
        } else {
          record.DeleteDatFile();
        }
      } catch (...) {
        LogError("CleanUpTempDirectory");
      }
    }
    const std::string dir = Read(setting::PartialDownloadsDirectory);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (!IsOwnPartFileName(name) || keptStems.count(StemOf(name)) != 0) continue;
      std::error_code removeError;
      if (it->is_regular_file(removeError)) fs::remove(it->path(), removeError);
    }
  } catch (...) {
    LogError("CleanUpTempDirectory");
  }
}

}  // namespace brindle
