#include "archive/entry_extractor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

#include "archive/checked_sink.h"
#include "archive/entry_index.h"
#include "archive/exploder.h"
#include "archive/file_input.h"
#include "archive/inflater.h"
#include "archive/temp_output_file.h"
#include "archive/unshrinker.h"
#include "archive/zip_format.h"

namespace brindle {
namespace {

// DOS date and time are local time with two-second steps.
time_t DosToTime(uint32_t dos) {
  const uint32_t date = dos >> 16;
  const uint32_t time = dos & 0xFFFF;
  struct tm t = {};
  t.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
  t.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  t.tm_mday = static_cast<int>(date & 0x1F);
  t.tm_hour = static_cast<int>(time >> 11);
  t.tm_min = static_cast<int>((time >> 5) & 0x3F);
  t.tm_sec = static_cast<int>(time & 0x1F) * 2;
  t.tm_isdst = -1;
  return mktime(&t);
}

bool IsDirectoryPath(const std::string& path) { return !path.empty() && (path.back() == '/' || path.back() == '\\'); }

int CopyStored(FileInput& input, OutputSink& sink) {
  constexpr size_t kChunk = 65536;
  std::vector<uint8_t> buffer(kChunk);
  for (;;) {
    size_t filled = 0;
    bool ended = false;
    while (filled + 4096 <= kChunk) {
      size_t got = 0;
      if (const int rc = input.Read(buffer.data() + filled, kChunk - filled, &got); rc != kZipOk) return rc;
      if (got == 0) {
        ended = true;
        break;
      }
      filled += got;
    }
    if (filled > 0) {
      if (const int rc = sink.Write(buffer.data(), filled); rc != kZipOk) return rc;
    }
    if (ended) return kZipOk;
  }
}

}  // namespace

EntryExtractor::EntryExtractor(std::string archive_path, const EntryIndex* index)
    : archive_path_(std::move(archive_path)), index_(index) {}

EntryExtractor::~EntryExtractor() {
  if (fd_ >= 0) close(fd_);
}

int EntryExtractor::Open() {
  if (fd_ >= 0) return kZipOk;
  if (archive_path_.find('\0') != std::string::npos) return kZipReadError;
  fd_ = open(archive_path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  return fd_ >= 0 ? kZipOk : kZipReadError;
}

int EntryExtractor::Index(const EntryIndex** index) {
  if (index_ == nullptr) {
    own_index_ = std::make_unique<EntryIndex>();
    if (const int rc = own_index_->Load(archive_path_); rc != kZipOk) {
      own_index_.reset();
      return rc;
    }
    index_ = own_index_.get();
  }
  *index = index_;
  return kZipOk;
}

int EntryExtractor::ReadLocalHeader(uint32_t offset, LocalEntry* entry) {
  uint8_t header[kLocalHeaderSize];
  if (!ReadAt(fd_, offset, header, sizeof header) || Le32(header) != kLocalHeaderSignature) {
    return kZipArchiveError;
  }
  entry->Flags = Le16(header + 6);
  entry->Method = Le16(header + 8);
  entry->DosDateTime = Le32(header + 10);
  entry->Crc = Le32(header + 14);
  entry->CompressedSize = Le32(header + 18);
  entry->UncompressedSize = Le32(header + 22);
  entry->DataOffset = int64_t{offset} + static_cast<int64_t>(kLocalHeaderSize) + Le16(header + 26) + Le16(header + 28);
  if (entry->Method >= 32 || ((kSupportedMethods >> entry->Method) & 1) == 0) return kZipUnsupportedMethod;
  if (entry->Flags & kFlagEncrypted) return kZipEncrypted;
  // Without sizes in the local header (sizes and CRC follow the data, or
  // the sizes moved to a Zip64 field, as when zip reads from a pipe), the
  // directory's sizes bound the entry.
  if ((entry->Flags & kFlagDataDescriptor) || entry->CompressedSize == kZip64Marker ||
      entry->UncompressedSize == kZip64Marker) {
    const EntryIndex* index = nullptr;
    if (const int rc = Index(&index); rc != kZipOk) return rc;
    const CentralRecord* record = index->Find(offset);
    if (record == nullptr) return kZipArchiveError;
    entry->CompressedSize = record->CompressedSize;
    entry->UncompressedSize = record->UncompressedSize;
  }
  return kZipOk;
}

int EntryExtractor::CheckPlace(uint32_t offset, const LocalEntry& entry) {
  const EntryIndex* index = nullptr;
  if (const int rc = Index(&index); rc != kZipOk) return rc;
  if (index->Find(offset) == nullptr || index->Shared(offset)) return kZipArchiveError;
  if (entry.DataOffset + entry.CompressedSize > index->LimitAfter(offset)) return kZipArchiveError;
  return kZipOk;
}

int EntryExtractor::Decode(const LocalEntry& entry, FileInput& input, OutputSink& target) {
  CheckedSink sink(target, entry.UncompressedSize);
  int rc = kZipOk;
  switch (entry.Method) {
    case kMethodStored:
      rc = CopyStored(input, sink);
      break;
    case kMethodShrunk:
      rc = Unshrinker(input, sink, entry.UncompressedSize).Run();
      break;
    case kMethodImploded:
      rc = Exploder(input, sink, entry.UncompressedSize, (entry.Flags & kFlagLargeDictionary) != 0,
                    (entry.Flags & kFlagLiteralTree) != 0)
               .Run();
      break;
    default:
      rc = Inflater(input, sink).Run();
  }
  if (rc != kZipOk) return rc;
  if (sink.Total() != entry.UncompressedSize) return kZipArchiveError;

  uint32_t crc = entry.Crc;
  if (entry.Flags & kFlagDataDescriptor) {
    // The descriptor follows the data, its signature optional.
    uint8_t field[4];
    const int64_t at = entry.DataOffset + entry.CompressedSize;
    if (!ReadAt(fd_, at, field, 4)) return kZipArchiveError;
    crc = Le32(field);
    if (crc == kDataDescriptorSignature) {
      if (!ReadAt(fd_, at + 4, field, 4)) return kZipArchiveError;
      crc = Le32(field);
    }
  }
  return sink.Crc() == crc ? kZipOk : kZipCrcError;
}

int EntryExtractor::ExtractToFile(const std::string& output_path, uint32_t offset, const ZipProgressRoutine& progress) {
  LocalEntry entry;
  if (const int rc = Open(); rc != kZipOk) return rc;
  if (const int rc = ReadLocalHeader(offset, &entry); rc != kZipOk) return rc;
  if (IsDirectoryPath(output_path)) {
    return CreateDirectories(output_path.substr(0, output_path.size() - 1)) ? kZipOk : kZipWriteError;
  }
  if (const int rc = CheckPlace(offset, entry); rc != kZipOk) return rc;
  TempOutputFile output;
  if (const int rc = output.Create(output_path); rc != kZipOk) return rc;
  FileInput input(fd_, entry.DataOffset, entry.CompressedSize, progress);
  if (const int rc = Decode(entry, input, output); rc != kZipOk) return rc;
  input.ReportComplete();
  return output.Commit(DosToTime(entry.DosDateTime));
}

int EntryExtractor::ExtractToSink(uint32_t offset, OutputSink& sink) {
  LocalEntry entry;
  if (const int rc = Open(); rc != kZipOk) return rc;
  if (const int rc = ReadLocalHeader(offset, &entry); rc != kZipOk) return rc;
  if (const int rc = CheckPlace(offset, entry); rc != kZipOk) return rc;
  const ZipProgressRoutine no_progress;
  FileInput input(fd_, entry.DataOffset, entry.CompressedSize, no_progress);
  return Decode(entry, input, sink);
}

}  // namespace brindle
