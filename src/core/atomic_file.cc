#include "core/paths.h"
#include "core/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include "core/crash_point.h"

namespace brindle {
namespace {

FileFaultHook& FaultHook() {
  static FileFaultHook hook;
  return hook;
}


bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Best effort: the rename has happened already, so a failure here cannot
// be undone and only weakens durability across a power cut.
void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool FileFaultInjected(std::string_view step, const std::string& path) {
  const FileFaultHook& hook = FaultHook();
  if (!hook) return false;
  const int error = hook(step, path);
  if (error == 0) return false;
  errno = error;
  return true;
}

void SetFileFaultHook(FileFaultHook hook) { FaultHook() = std::move(hook); }

bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode, TDurability durability) {
  const std::string temp = path + ".tmp";
  const auto fail = [&temp](int fd) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    errno = error;
    return false;
  };

  if (FileFaultInjected("open", path)) return fail(-1);
  // A temporary file left by a crash is replaced, so the new one gets this mode.
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return fail(-1);
  if (FileFaultInjected("write", path) || !WriteAll(fd, content)) return fail(fd);
  const bool synced = durability == TDurability::Synced;
  if (synced && (FileFaultInjected("fsync", path) || ::fsync(fd) != 0)) return fail(fd);
  if (::close(fd) != 0) return fail(-1);

  CrashPoint("atomic-write-before-rename", path);
  if (FileFaultInjected("rename", path) || ::rename(temp.c_str(), path.c_str()) != 0) return fail(-1);
  if (synced) SyncDirectory(DirectoryOf(path));
  return true;
}

}  // namespace brindle
