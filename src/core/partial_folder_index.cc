#include "core/partial_folder_index.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "core/ascii_case.h"
#include "core/file_names.h"
#include "core/paths.h"

namespace brindle {
namespace {

std::string StemOf(const std::string& name) { return name.substr(0, name.find('.')); }

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TPartialFolderIndex::TPartialFolderIndex(const std::string& directory) { Read(directory); }

void TPartialFolderIndex::Read(const std::string& directory) {
  directory_ = directory;
  if (directory_.empty() || directory_.back() != '/') directory_ += '/';
  listedRecords_.clear();
  names_.clear();
  takenStems_.clear();
  if (DIR* d = opendir(directory_.c_str())) {
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      Added(directory_ + name);
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0)
        listedRecords_.push_back(directory_ + name);
    }
    closedir(d);
  }
}

bool TPartialFolderIndex::Holds(const std::string& path) const {
  return path.size() > directory_.size() && path.compare(0, directory_.size(), directory_) == 0 &&
         path.find('/', directory_.size()) == std::string::npos;
}

std::vector<std::string> TPartialFolderIndex::FilesOf(const std::string& basePath) const {
  std::vector<std::string> files;
  if (!Holds(basePath)) return files;
  // A base made elsewhere may hold dots: its files are among its stem's.
  const std::string prefix = basePath.substr(directory_.size()) + ".";
  const auto found = names_.find(StemOf(prefix));
  if (found == names_.end()) return files;
  for (const std::string& name : found->second)
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 && name != prefix + "dat")
      files.push_back(directory_ + name);
  return files;
}

std::vector<int64_t> TPartialFolderIndex::PartStarts(const std::string& basePath) const {
  std::vector<int64_t> starts;
  const size_t offset = NameOf(basePath).size() + 1;
  for (const std::string& path : FilesOf(basePath)) {
    const std::string number = NameOf(path).substr(offset);
    if (number.size() > 18 || !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    starts.push_back(std::stoll(number));
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

bool TPartialFolderIndex::Taken(const std::string& stem) const { return takenStems_.count(UpperCaseAscii(stem)) != 0; }

std::string TPartialFolderIndex::NewBasePath(const std::function<std::string()>& nextName) {
  EnsureDirectory(directory_);
  for (;;) {
    const std::string stem = nextName ? nextName() : GenerateRandomAlphaNums(8);
    if (Taken(stem)) continue;
    takenStems_.insert(UpperCaseAscii(stem));
    const std::string base = directory_ + stem;
    // Something the index was not told of (another program writing here)
    // is found on disk, and the name is not given out.
    bool onDisk = false;
    for (const std::string& path : {base, base + ".dat", base + ".0"}) {
      if (!Exists(path)) continue;
      Added(path);
      onDisk = true;
    }
    if (!onDisk) return base;
  }
}

void TPartialFolderIndex::Added(const std::string& path) {
  if (!Holds(path)) return;
  const std::string name = path.substr(directory_.size());
  const std::string stem = StemOf(name);
  std::vector<std::string>& names = names_[stem];
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  takenStems_.insert(UpperCaseAscii(stem));
}

void TPartialFolderIndex::Removed(const std::string& path) {
  if (!Holds(path)) return;
  const std::string name = path.substr(directory_.size());
  const auto found = names_.find(StemOf(name));
  if (found == names_.end()) return;
  std::vector<std::string>& names = found->second;
  names.erase(std::remove(names.begin(), names.end(), name), names.end());
  if (names.empty()) names_.erase(found);
}

void TPartialFolderIndex::Check(const std::string& path) {
  if (Exists(path)) {
    Added(path);
  } else {
    Removed(path);
  }
}

}  // namespace brindle
