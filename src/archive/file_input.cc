#include "archive/file_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/extraction_state.h"

namespace brindle {

FileInput::FileInput(int fd, int64_t offset, int64_t size, const ZipProgressRoutine& progress)
    : fd_(fd), offset_(offset), size_(size), progress_(progress) {}

bool FileInput::ReportPercent(int percent) {
  if (percent == percent_) return true;
  percent_ = percent;
  if (!progress_) return true;
  int value = percent;
  progress_(value);
  return value < kZipAbortPercent;
}

void FileInput::ReportComplete() { ReportPercent(100); }

int FileInput::Read(uint8_t* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (ExtractionState::Pass()) return kZipUserAbort;
  const int percent = size_ > 0 ? static_cast<int>(std::min<int64_t>(100, read_ * 100 / size_)) : 100;
  if (!ReportPercent(percent)) return kZipUserAbort;
  const size_t wanted =
      static_cast<size_t>(std::min<int64_t>(size_ - read_, static_cast<int64_t>(std::min(capacity, kBlockSize))));
  if (wanted == 0) return kZipOk;
  ssize_t n;
  do {
    n = pread(fd_, buffer, wanted, offset_ + read_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return kZipReadError;
  read_ += n;
  *got = static_cast<size_t>(n);
  return kZipOk;
}

}  // namespace brindle
