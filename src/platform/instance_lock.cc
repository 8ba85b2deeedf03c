#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "core/paths.h"

namespace brindle {

TInstanceLock::TInstanceLock(std::string configDirectory) : directory_(std::move(configDirectory)) {}

TInstanceLock::~TInstanceLock() { Release(); }

TInstanceLock::TResult TInstanceLock::Acquire() {
  if (fd_ >= 0) return TResult::Acquired;
  if (!EnsureDirectory(directory_, 0700)) return TResult::Failed;
  const int fd = open(LockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return TResult::Failed;
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? TResult::Busy : TResult::Failed;
  }
  fd_ = fd;
  return TResult::Acquired;
}

void TInstanceLock::Release() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

}  // namespace brindle
