#include "archive/temp_output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "archive/unzip.h"
#include "core/paths.h"

namespace brindle {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A short name, so that a long final name cannot make the temporary one too
// long for the file system.
std::string TempName(const std::string& directory) {
  static std::mt19937_64 random{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return directory + "/.unzip-" + suffix + ".tmp";
}

}  // namespace

bool CreateDirectories(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    if (slash > 0) {
      const std::string prefix = path.substr(0, slash);
      if (mkdir(prefix.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(prefix))) return false;
    }
    pos = slash + 1;
  }
  return true;
}

TempOutputFile::~TempOutputFile() { Discard(); }

void TempOutputFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
    unlink(temp_path_.c_str());
  }
}

int TempOutputFile::Create(const std::string& path) {
  Discard();
  if (path.empty() || path.find('\0') != std::string::npos) return kZipWriteError;
  path_ = path;
  const std::string directory = DirectoryOf(path);
  bool made_directories = false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path_ = TempName(directory);
    fd_ = open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return kZipOk;
    if (errno == ENOENT && !made_directories) {
      if (!CreateDirectories(directory)) return kZipWriteError;
      made_directories = true;
      continue;
    }
    if (errno != EEXIST) return kZipWriteError;
  }
  return kZipWriteError;
}

int TempOutputFile::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kZipWriteError;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return kZipOk;
}

int TempOutputFile::Commit(time_t modified) {
  if (modified != static_cast<time_t>(-1)) {
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    futimens(fd_, times);
  }
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0 || rename(temp_path_.c_str(), path_.c_str()) != 0) {
    unlink(temp_path_.c_str());
    return kZipWriteError;
  }
  return kZipOk;
}

}  // namespace brindle#include "core/paths.h"

