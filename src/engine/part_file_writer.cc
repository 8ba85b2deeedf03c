#include "engine/part_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/crash_point.h"
#include "core/owned_file.h"

namespace brindle {

// Held-back bytes come from the one block that crossed the limit; a server
// that keeps sending after that is stopped by the part downloader, so this
// is only a guard against unbounded memory.
constexpr size_t kMaxHeldBack = 1 << 20;

TPartFileWriter::TPartFileWriter(const std::string& path) {
  fd_ = OpenOwnedFile(path, O_WRONLY | O_CREAT);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
  struct stat st {};
  if (fstat(fd_, &st) != 0) {
    int error = errno;
    close(fd_);
    throw std::system_error(error, std::generic_category(), "fstat " + path);
  }
  size_ = st.st_size;
}

TPartFileWriter::~TPartFileWriter() { close(fd_); }

void TPartFileWriter::SetAccepting(bool accepting) {
  accepting_ = accepting;
  if (!accepting) heldBack_.clear();
}

void TPartFileWriter::SetLimit(int64_t limit) {
  limit_ = limit;
  if (heldBack_.empty()) return;
  std::string held;
  held.swap(heldBack_);
  Write(held.data(), held.size());
}

bool TPartFileWriter::Truncate(int64_t size) {
  heldBack_.clear();
  if (size >= size_) return true;
  if (ftruncate(fd_, size) != 0) {
    if (!error_) error_ = errno;
    return false;
  }
  size_ = size;
  return true;
}

bool TPartFileWriter::Write(const char* data, size_t size) {
  if (error_) return false;
  if (!accepting_) return true;
  size_t fits = size;
  if (limit_ >= 0) fits = static_cast<size_t>(std::clamp<int64_t>(limit_ - size_, 0, static_cast<int64_t>(size)));
  if (fits > 0 && !Store(data, fits)) return false;
  if (fits < size) {
    if (heldBack_.size() + (size - fits) > kMaxHeldBack) {
      // Dropping part of them would leave a gap: store nothing more of this
      // answer, so the file stays a clean prefix.
      SetAccepting(false);
    } else {
      heldBack_.append(data + fits, size - fits);
    }
  }
  return true;
}

bool TPartFileWriter::Store(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = pwrite(fd_, data, size, size_);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    size_ += n;
    data += n;
    size -= static_cast<size_t>(n);
  }
  CrashPoint("part-written");
  return true;
}

}  // namespace brindle
