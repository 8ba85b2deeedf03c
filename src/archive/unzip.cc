#include "archive/unzip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "archive/entry_extractor.h"
#include "archive/entry_index.h"
#include "archive/entry_walk.h"
#include "archive/extraction_state.h"
#include "archive/zip_format.h"
#include "core/ascii_case.h"
#include "core/file_names.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/presentation.h"

namespace brindle {
namespace {

constexpr char kNotAZipFile[] = "NOTAZIPFILE";

void FillEntry(const CentralRecord& record, ZipEntry* entry) {
  entry->DosDateTime = record.DosDateTime;
  entry->UncompressedSize = record.UncompressedSize;
  entry->CompressedSize = record.CompressedSize;
  entry->LocalHeaderOffset = record.LocalHeaderOffset;
  entry->EntryName = record.Name;
  entry->Method = record.Method;
  // Only DOS-compatible systems (host byte 0) store DOS attributes there.
  entry->Attributes = (record.VersionMadeBy >> 8) == 0 ? static_cast<uint8_t>(record.ExternalAttributes) : 0;
}

int NextFromWalk(ZipEntry* entry) {
  if (!entry->Walk) return kZipNoMoreEntries;
  CentralRecord record;
  const int rc = entry->Walk->Next(&record);
  if (rc != kZipOk) {
    entry->Walk.reset();
    return rc;
  }
  FillEntry(record, entry);
  return kZipOk;
}

uint8_t Ratio(int64_t compressed, int64_t uncompressed) {
  if (uncompressed <= 0) return 0;
  const int64_t percent = (compressed * 200 + uncompressed) / (uncompressed * 2);
  return static_cast<uint8_t>(std::clamp<int64_t>(100 - percent, 0, 100));
}


// "*" matches any run of characters, "?" any one; letters match in either
// case. "*.*" matches every name, with or without a dot.
bool MatchesMask(const std::string& mask, const std::string& name) {
  if (mask.empty() || mask == "*.*") return true;
  size_t m = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (m < mask.size() && (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
      ++m;
      ++n;
    } else if (star != std::string::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// A stored name that could write outside the target directory: absolute,
// with a drive prefix, with a ".." component, or with a NUL byte that would
// cut the path short.
bool IsUnsafeName(const std::string& name) {
  if (name.find('\0') != std::string::npos) return true;
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
  if (name.size() >= 2 && name[1] == ':' && LowerAscii(name[0]) >= 'a' && LowerAscii(name[0]) <= 'z') return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

bool IsDirectoryName(const std::string& name) { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }

bool ExistsAsFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0) return 0;
  return st.st_size;
}

// The routines of one ExtractAll: set from its arguments, and when it ends
// reset to none, or to the outer run's when an ExtractAll was started from
// inside another (from the idle routine, say).
class RoutineScope {
 public:
  RoutineScope(ZipReportRoutine report, ZipQuestionRoutine question) {
    outer_report_ = ExtractionState::SetReportRoutine(std::move(report));
    outer_question_ = ExtractionState::SetQuestionRoutine(std::move(question));
    ++depth_;
  }
  ~RoutineScope() {
    --depth_;
    if (depth_ == 0) {
      outer_report_ = nullptr;
      outer_question_ = nullptr;
    }
    ExtractionState::SetReportRoutine(std::move(outer_report_));
    ExtractionState::SetQuestionRoutine(std::move(outer_question_));
  }
  RoutineScope(const RoutineScope&) = delete;
  RoutineScope& operator=(const RoutineScope&) = delete;

 private:
  static inline int depth_ = 0;
  ZipReportRoutine outer_report_;
  ZipQuestionRoutine outer_question_;
};

ZipReport TotalsReport(const std::string& archive_path, int64_t compressed, int64_t uncompressed, int status) {
  ZipReport report;
  report.Name = archive_path;
  report.CompressedSize = compressed;
  report.UncompressedSize = uncompressed;
  report.Ratio = Ratio(compressed, uncompressed);
  report.Status = status;
  return report;
}

int ExtractAllEntries(const std::string& archive_path, const std::string& directory, const std::string& mask) {
  int64_t uncompressed_total = 0;
  const int64_t compressed_total = ArchiveSizes(archive_path, &uncompressed_total);
  ExtractionState::Report(kZipReportStarts,
                          TotalsReport(archive_path, compressed_total, uncompressed_total, kZipReportStarts));

  ZipEntry entry;
  int rc = FirstEntry(archive_path, &entry);
  EntryIndex index;
  if (rc == kZipOk) rc = index.Load(archive_path);
  if (rc != kZipOk && rc != kZipNoMoreEntries) {
    ExtractionState::Report(kZipReportStopped, TotalsReport(archive_path, 0, 0, kZipReportEntryFailed));
    return kZipSeriousError;
  }
  EntryExtractor extractor(archive_path, &index);
  int extracted = 0;
  int64_t matched_compressed = 0;
  int64_t matched_uncompressed = 0;
  for (; rc == kZipOk; rc = NextEntry(&entry)) {
    if (!MatchesMask(mask, entry.EntryName)) continue;
    matched_compressed += entry.CompressedSize;
    matched_uncompressed += entry.UncompressedSize;
    ZipReport report;
    report.Name = entry.EntryName;
    report.DosDateTime = entry.DosDateTime;
    report.UncompressedSize = entry.UncompressedSize;
    report.CompressedSize = entry.CompressedSize;
    report.Attributes = entry.Attributes;
    report.Method = entry.Method;
    report.Ratio = Ratio(entry.CompressedSize, entry.UncompressedSize);
    report.Status = kZipReportEntryStarts;
    ExtractionState::Report(kZipReportEntryStarts, report);

    const std::string output_path = directory + ReplaceControlCharacters(entry.EntryName);
    int result = kZipOk;
    if (IsUnsafeName(entry.EntryName)) {
      result = kZipWriteError;
    } else if (!IsDirectoryName(entry.EntryName) && ExtractionState::HasQuestionRoutine() &&
               ExistsAsFile(output_path) && !ExtractionState::MayOverwrite(output_path)) {
      report.Status = kZipReportEntrySkipped;
      ExtractionState::Report(kZipReportEntrySkipped, report);
      continue;
    } else {
      ExtractionMark mark;
      result = mark.Held() ? extractor.ExtractToFile(output_path, entry.LocalHeaderOffset, {}) : kZipInProgress;
    }
    if (result == kZipOk) {
      ++extracted;
      report.Status = kZipReportEntryDone;
      ExtractionState::Report(kZipReportEntryDone, report);
      continue;
    }
    report.Status = kZipReportEntryFailed;
    if (result == kZipCrcError || result == kZipWriteError || result == kZipUnsupportedMethod ||
        result == kZipEncrypted) {
      ExtractionState::Report(result, report);
      continue;
    }
    if (result == kZipNoMoreEntries) break;
    ExtractionState::Report(kZipReportStopped, report);
    return kZipSeriousError;
  }
  CloseEntryWalk(&entry);
  ExtractionState::Report(kZipReportFinished,
                          TotalsReport(archive_path, matched_compressed, matched_uncompressed, kZipReportFinished));
  return extracted;
}

}  // namespace

ZipEntry::ZipEntry() = default;
ZipEntry::~ZipEntry() = default;
ZipEntry::ZipEntry(ZipEntry&&) noexcept = default;
ZipEntry& ZipEntry::operator=(ZipEntry&&) noexcept = default;

bool IsArchive(const std::string& path) {
  try {
    if (path.find('.') == std::string::npos || path.find(".exe") != std::string::npos) return false;
    if (path.find('\0') != std::string::npos) return false;
    // Non-blocking, so that a FIFO cannot hang the probe.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    uint8_t signature[4];
    const bool archive = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && ReadAt(fd, 0, signature, 4) &&
                         Le32(signature) == kLocalHeaderSignature;
    close(fd);
    return archive;
  } catch (...) {
    LogError("IsArchive");
    return false;
  }
}

int FirstEntry(const std::string& archive_path, ZipEntry* entry) {
  if (entry == nullptr) return kZipMissingParameter;
  try {
    entry->Walk.reset();
    const int rc = EntryWalk::Open(archive_path, &entry->Walk);
    if (rc != kZipOk) return rc;
    return NextFromWalk(entry);
  } catch (...) {
    LogError("FirstEntry");
    entry->Walk.reset();
    return kZipDirectoryError;
  }
}

int NextEntry(ZipEntry* entry) {
  if (entry == nullptr) return kZipMissingParameter;
  try {
    return NextFromWalk(entry);
  } catch (...) {
    LogError("NextEntry");
    entry->Walk.reset();
    return kZipNoMoreEntries;
  }
}

void CloseEntryWalk(ZipEntry* entry) {
  if (entry != nullptr) entry->Walk.reset();
}

int ExtractEntry(const std::string& archive_path, const std::string& output_path, uint32_t local_header_offset,
                 const ZipProgressRoutine& progress) {
  try {
    ExtractionMark mark;
    if (!mark.Held()) return kZipInProgress;
    EntryExtractor extractor(archive_path, nullptr);
    return extractor.ExtractToFile(output_path, local_header_offset, progress);
  } catch (...) {
    LogError("ExtractEntry");
    return kZipInternalError;
  }
}

int ExtractAll(const std::string& archive_path, const std::string& target_directory, const std::string& mask,
               ZipReportRoutine report, ZipQuestionRoutine question) {
  try {
    if (archive_path.empty() || target_directory.empty()) return kZipMissingParameter;
    std::string directory = target_directory;
    if (directory.back() != '/') directory += '/';
    if (!IsArchive(archive_path)) return kZipNotAnArchive;
    RoutineScope routines(std::move(report), std::move(question));
    return ExtractAllEntries(archive_path, directory, mask);
  } catch (...) {
    LogError("ExtractAll");
    return kZipSeriousError;
  }
}

int64_t ArchiveSizes(const std::string& archive_path, int64_t* uncompressed_total) {
  try {
    int64_t compressed = 0;
    int64_t uncompressed = 0;
    if (!IsArchive(archive_path)) {
      compressed = uncompressed = FileSize(archive_path);
    } else {
      ZipEntry entry;
      for (int rc = FirstEntry(archive_path, &entry); rc == kZipOk; rc = NextEntry(&entry)) {
        compressed += entry.CompressedSize;
        uncompressed += entry.UncompressedSize;
      }
    }
    if (uncompressed_total != nullptr) *uncompressed_total = uncompressed;
    return compressed;
  } catch (...) {
    LogError("ArchiveSizes");
    if (uncompressed_total != nullptr) *uncompressed_total = 0;
    return 0;
  }
}

ZipSizeCheck CheckDeclaredSizes(const std::string& archive_path, const std::string& target_directory) {
  ZipSizeCheck check;
  try {
    ArchiveSizes(archive_path, &check.Declared);
    check.ArchiveSize = FileSize(archive_path);
    check.FreeSpace = FreeDiskSpace(target_directory);
    if (check.FreeSpace >= 0 && check.Declared > check.FreeSpace - check.FreeSpace / 20) {
      check.Result = kZipNotEnoughSpace;
    } else if (check.Declared > kZipBombFloor && check.Declared > kZipBombRatio * check.ArchiveSize) {
      check.Result = kZipHighRatio;
    }
  } catch (...) {
    LogError("CheckDeclaredSizes");
  }
  return check;
}

std::string DeclaredSizeText(const ZipSizeCheck& check, const std::string& target_directory) {
  const std::string declared = "its entries declare " + BytesToPresentableString(check.Declared);
  if (check.Result == kZipNotEnoughSpace) {
    return declared + ", but " + target_directory + " has only " + BytesToPresentableString(check.FreeSpace) +
           " free (5 % of it is kept free)";
  }
  if (check.Result == kZipHighRatio) {
    return declared + ", " + std::to_string(check.Declared / std::max<int64_t>(check.ArchiveSize, 1)) +
           " times the archive's own size, as archives made to fill the disk do";
  }
  return "";
}

std::string FindInstaller(const std::string& archive_path) {
  try {
    if (archive_path.empty()) return "";
    if (!IsArchive(archive_path)) return kNotAZipFile;
    ZipEntry entry;
    for (int rc = FirstEntry(archive_path, &entry); rc == kZipOk; rc = NextEntry(&entry)) {
      const size_t slash = entry.EntryName.find_last_of("/\\");
      const std::string file_name = slash == std::string::npos ? entry.EntryName : entry.EntryName.substr(slash + 1);
      if (SameTextIgnoringCase(file_name, "setup.exe") || SameTextIgnoringCase(file_name, "install.exe")) {
        return entry.EntryName;
      }
    }
    return "";
  } catch (...) {
    LogError("FindInstaller");
    return "";
  }
}

ZipReportRoutine SetReportRoutine(ZipReportRoutine routine) {
  return ExtractionState::SetReportRoutine(std::move(routine));
}

ZipQuestionRoutine SetQuestionRoutine(ZipQuestionRoutine routine) {
  return ExtractionState::SetQuestionRoutine(std::move(routine));
}

ZipIdleRoutine SetIdleRoutine(ZipIdleRoutine routine) { return ExtractionState::SetIdleRoutine(std::move(routine)); }

ZipAbortTest SetAbortTest(ZipAbortTest test) { return ExtractionState::SetAbortTest(std::move(test)); }

}  // namespace brindle
