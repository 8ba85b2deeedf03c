#include "core/owned_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brindle {
namespace {

// The open may refuse a stranger itself: a symbolic link (ELOOP with
// O_NOFOLLOW), a FIFO without a reader or a socket (ENXIO), a directory
// opened for writing (EISDIR).
bool RefusedStranger(int error) { return error == ELOOP || error == ENXIO || error == EISDIR; }

}  // namespace

int OpenOwnedFile(const std::string& path, int flags, mode_t mode) {
  for (int attempt = 0;; ++attempt) {
    int error = 0;
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd >= 0) {
      struct stat info {};
      if (fstat(fd, &info) != 0) {
        error = errno;
        ::close(fd);
        errno = error;
        return -1;
      }
      if (S_ISREG(info.st_mode) && info.st_nlink == 1 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        return fd;
      error = S_ISREG(info.st_mode) && info.st_nlink > 1 ? EMLINK : ENXIO;
      ::close(fd);
    } else {
      error = errno;
      if (!RefusedStranger(error)) return -1;
    }
    // A stranger: with O_CREAT its name is taken back, once, for a new file.
    if (!(flags & O_CREAT) || attempt > 0) {
      errno = error;
      return -1;
    }
    if (::unlink(path.c_str()) != 0) return -1;
  }
}

int64_t OwnedFileSize(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return -1;
  if (S_ISREG(info.st_mode) && info.st_nlink == 1) return info.st_size;
  ::unlink(path.c_str());
  return -1;
}

bool TruncateOwnedFile(const std::string& path, int64_t length) {
  const int fd = OpenOwnedFile(path, O_WRONLY);
  if (fd < 0) return false;
  struct stat info {};
  const bool ok = fstat(fd, &info) == 0 && (info.st_size <= length || ftruncate(fd, length) == 0);
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

}  // namespace brindle
