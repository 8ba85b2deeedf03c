#include "manager/default_categories.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/log_error.h"
#include "core/paths.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/download_file_name.h"

namespace brindle {
namespace {

struct TDefaultCategory {
  const char* Name;
  const char* Extensions;
  const char* UserDirectoryKey;  // nullptr: the download folder
};

constexpr TDefaultCategory kDefaults[] = {
    {"Compressed", "zip 7z rar tar gz tgz bz2 tbz2 xz txz zst lz lzma lzh arj cab z iso", nullptr},
    {"Documents", "pdf odt ods odp doc docx xls xlsx ppt pptx rtf txt csv epub mobi djvu", "XDG_DOCUMENTS_DIR"},
    {"Music", "mp3 ogg oga opus flac wav m4a aac wma mka", "XDG_MUSIC_DIR"},
    {"Pictures", "jpg jpeg png gif webp avif heic svg bmp tif tiff ico", "XDG_PICTURES_DIR"},
    {"Programs", "deb AppImage rpm run sh exe msi flatpak snap apk dmg bin", nullptr},
    {"Video", "mp4 mkv webm avi mov mpg mpeg m4v wmv flv ogv 3gp", "XDG_VIDEOS_DIR"},
};

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// A folder that exists and is not the home folder itself, which XDG uses to
// say that the user switched that folder off.
bool IsOwnFolder(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  const char* home = std::getenv("HOME");
  struct stat homeInfo {};
  return !home || ::stat(home, &homeInfo) != 0 || homeInfo.st_dev != info.st_dev || homeInfo.st_ino != info.st_ino;
}

std::string FolderFor(const char* key, const std::string& downloads) {
  if (!key) return downloads;
  const std::string folder = UserDirectory(key);
  return IsOwnFolder(folder) ? folder : downloads;
}

}  // namespace

void InstallDefaultCategories() {
  try {
    if (Exists(CategoriesFile())) return;
    const std::string downloads = DownloadDirectorySetting();
    TCategoryList categories(CategoriesFile());
    for (const TDefaultCategory& entry : kDefaults) {
      auto category = std::make_unique<TCategory>();
      category->SetName(entry.Name);
      category->SetExtensions(entry.Extensions);
      category->SetSaveFolder(FolderFor(entry.UserDirectoryKey, downloads));
      categories.Add(std::move(category));
    }
  } catch (...) {
    LogError("InstallDefaultCategories");
  }
}

}  // namespace brindle
