#include "archive/entry_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/unzip.h"
#include "archive/zip_format.h"

namespace brindle {

bool ReadAt(int fd, int64_t offset, uint8_t* buffer, size_t size) {
  while (size > 0) {
    const ssize_t n = pread(fd, buffer, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

namespace {

constexpr int64_t kSearchBlock = 4096;
// The end record is followed only by the archive comment (at most 65535
// bytes), so it cannot lie further back than this from the end.
constexpr int64_t kSearchRange = 65535 + kEndRecordSize;

}  // namespace

EntryWalk::~EntryWalk() { close(fd_); }

int EntryWalk::Open(const std::string& archive_path, std::unique_ptr<EntryWalk>* walk) {
  walk->reset();
  if (archive_path.find('\0') != std::string::npos) return kZipDirectoryError;
  const int fd = open(archive_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kZipDirectoryError;
  std::unique_ptr<EntryWalk> opened(new EntryWalk(fd));
  const int rc = opened->LocateDirectory();
  if (rc == kZipOk) *walk = std::move(opened);
  return rc;
}

int EntryWalk::LocateDirectory() {
  struct stat st;
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return kZipDirectoryError;
  const int64_t file_size = st.st_size;
  const int64_t floor = std::max<int64_t>(0, file_size - kSearchRange);
  std::vector<uint8_t> block(kSearchBlock);
  int64_t block_end = file_size;
  int64_t end_record = -1;
  while (end_record < 0) {
    const int64_t block_start = std::max(floor, block_end - kSearchBlock);
    const size_t length = static_cast<size_t>(block_end - block_start);
    if (length < kEndRecordSize) return kZipDirectoryError;
    if (!ReadAt(fd_, block_start, block.data(), length)) return kZipDirectoryError;
    for (size_t pos = length - kEndRecordSize + 1; pos-- > 0;) {
      if (Le32(&block[pos]) == kEndRecordSignature) {
        end_record = block_start + static_cast<int64_t>(pos);
        break;
      }
    }
    if (end_record < 0) {
      if (block_start == floor) return kZipDirectoryError;
      // Overlap the blocks so that a record across the boundary is found.
      block_end = block_start + static_cast<int64_t>(kEndRecordSize);
    }
  }
  uint8_t record[kEndRecordSize];
  if (!ReadAt(fd_, end_record, record, sizeof record)) return kZipDirectoryError;
  const uint16_t entry_count = Le16(record + 10);
  if (end_record < static_cast<int64_t>(kCentralHeaderSize)) {
    return entry_count == 0 ? kZipNoMoreEntries : kZipInternalError;
  }
  directory_offset_ = Le32(record + 16);
  if (directory_offset_ > end_record) return kZipDirectoryError;
  directory_end_ = end_record + 4;
  buffer_offset_ = directory_offset_;
  position_ = 0;
  return Fill() ? kZipOk : kZipDirectoryError;
}

bool EntryWalk::Fill() {
  buffer_offset_ += static_cast<int64_t>(position_);
  position_ = 0;
  const size_t size = static_cast<size_t>(std::min<int64_t>(kBufferSize, directory_end_ - buffer_offset_));
  buffer_.resize(size);
  return ReadAt(fd_, buffer_offset_, buffer_.data(), size);
}

int EntryWalk::Next(CentralRecord* record) {
  const auto fits = [&](size_t size) { return position_ + size <= buffer_.size(); };
  const auto more_in_file = [&] { return buffer_offset_ + static_cast<int64_t>(buffer_.size()) < directory_end_; };
  if (!fits(kCentralHeaderSize) && (!more_in_file() || !Fill() || !fits(kCentralHeaderSize))) {
    return kZipNoMoreEntries;
  }
  if (Le32(&buffer_[position_]) != kCentralHeaderSignature) return kZipNoMoreEntries;
  const uint8_t* p = &buffer_[position_];
  const size_t record_size = kCentralHeaderSize + Le16(p + 28) + Le16(p + 30) + Le16(p + 32);
  if (!fits(record_size) && (!more_in_file() || !Fill() || !fits(record_size))) {
    return kZipNoMoreEntries;
  }
  p = &buffer_[position_];
  record->VersionMadeBy = Le16(p + 4);
  record->Flags = Le16(p + 8);
  record->Method = Le16(p + 10);
  record->DosDateTime = Le32(p + 12);
  record->Crc = Le32(p + 16);
  record->CompressedSize = Le32(p + 20);
  record->UncompressedSize = Le32(p + 24);
  record->ExternalAttributes = Le32(p + 38);
  record->LocalHeaderOffset = Le32(p + 42);
  size_t name_length = Le16(p + 28);
  if (name_length > kMaxNameLength) {
    name_length = kMaxNameLength;
    // Do not cut a UTF-8 name inside a character.
    if (record->Flags & kFlagUtf8) {
      while (name_length > 0 && (p[kCentralHeaderSize + name_length] & 0xC0) == 0x80) --name_length;
    }
  }
  record->Name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), name_length);
  position_ += record_size;
  return kZipOk;
}

}  // namespace brindle
