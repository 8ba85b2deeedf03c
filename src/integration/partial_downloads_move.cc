#include "integration/partial_downloads_move.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "core/file_names.h"
#include "core/paths.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool CopyAndSync(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int saved = errno;
    close(in);
    errno = saved;
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ok = ok && fsync(out) == 0;
  const int saved = errno;
  close(in);
  ok = close(out) == 0 && ok;
  if (!ok) {
    unlink(to.c_str());
    errno = saved;
  }
  return ok;
}

}  // namespace

TPartialDownloadsMove::TPartialDownloadsMove(TDownloadSystem& system, TMoveFile move)
    : system_(system), move_(move ? std::move(move) : TMoveFile(&RenameOrCopy)) {}

bool TPartialDownloadsMove::RenameOrCopy(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  // Another file system: the copy is on disk before the original goes.
  if (!CopyAndSync(from, to)) return false;
  if (unlink(from.c_str()) != 0) {
    const int saved = errno;
    unlink(to.c_str());
    errno = saved;
    return false;
  }
  return true;
}

std::optional<std::string> TPartialDownloadsMove::Move(const std::string& fromDirectory,
                                                        const std::string& toDirectory) {
  const std::string from = WithoutTrailingSlash(fromDirectory);
  const std::string to = WithoutTrailingSlash(toDirectory);
  std::error_code error;
  if (from == to || std::filesystem::equivalent(from, to, error)) return std::nullopt;

  // Record files, and part files whose record file is here too.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(from, error))
    if (entry.is_regular_file(error)) names.insert(entry.path().filename().string());
  std::vector<std::string> chosen;
  for (const std::string& name : names) {
    const bool recordFile = name.find(".dat") != std::string::npos;
    const bool partFile = HasNumericExtension(name) && names.count(name.substr(0, name.find('.')) + ".dat");
    if (recordFile || partFile) chosen.push_back(name);
  }
  if (!EnsureDirectory(to)) return to + ": " + std::strerror(errno);

  std::vector<std::string> moved;
  const auto undo = [&] {
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) move_(to + "/" + *it, from + "/" + *it);
  };
  for (const std::string& name : chosen) {
    const std::string target = to + "/" + name;
    struct stat existing {};
    if (lstat(target.c_str(), &existing) == 0) {
      undo();
      return target + ": " + std::strerror(EEXIST);
    }
    if (!move_(from + "/" + name, target)) {
      const std::string reason = name + ": " + std::strerror(errno);
      undo();
      return reason;
    }
    moved.push_back(name);
  }
  const TLDIList& records = system_.DownloadList();
  for (int i = 0; i < records.Count(); ++i) {
    TLocalDownloadinfo* record = records.Get(i);
    const size_t slash = record->TempFileName.rfind('/');
    if (slash != std::string::npos && WithoutTrailingSlash(record->TempFileName.substr(0, slash)) == from)
      record->TempFileName = to + record->TempFileName.substr(slash);
  }
  return std::nullopt;
}

}  // namespace brindle
