#pragma once

// The ZIP reader behind the download-complete dialog: recognises an archive,
// walks its central directory, finds an installer entry and extracts entries
// (stored, shrunk, imploded, deflated) with their directories, CRC-32 check
// and stored dates. Everything runs on the calling thread; one extraction
// runs at a time. No exception leaves these routines: every failure is a
// result code.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brindle {

// Result codes.
inline constexpr int kZipOk = 0;
inline constexpr int kZipCrcError = -1;
inline constexpr int kZipWriteError = -2;
inline constexpr int kZipReadError = -3;
inline constexpr int kZipArchiveError = -4;
inline constexpr int kZipUserAbort = -5;
inline constexpr int kZipUnsupportedMethod = -6;
inline constexpr int kZipEncrypted = -7;
inline constexpr int kZipInProgress = -8;
inline constexpr int kZipInternalError = -9;
inline constexpr int kZipNoMoreEntries = -10;
inline constexpr int kZipDirectoryError = -11;
inline constexpr int kZipNotAnArchive = -12;
inline constexpr int kZipNotEnoughSpace = -13;
inline constexpr int kZipHighRatio = -14;
inline constexpr int kZipSeriousError = -100;
inline constexpr int kZipMissingParameter = -500;

// Report statuses passed to the report routine of ExtractAll.
inline constexpr int kZipReportEntryStarts = -1000;
inline constexpr int kZipReportEntrySkipped = -1001;
inline constexpr int kZipReportEntryDone = -1002;
inline constexpr int kZipReportEntryFailed = -1003;
inline constexpr int kZipReportStarts = -1004;
inline constexpr int kZipReportFinished = -1005;
inline constexpr int kZipReportStopped = -100;

// What a progress routine may set the percent to in order to stop the
// extraction (it then ends with kZipUserAbort).
inline constexpr int kZipAbortPercent = 65535;

class EntryWalk;

// One central-directory entry, filled by FirstEntry / NextEntry. The record
// owns the walk that fills it; the walk ends with the last entry or
// CloseEntryWalk.
struct ZipEntry {
  ZipEntry();
  ~ZipEntry();
  ZipEntry(ZipEntry&&) noexcept;
  ZipEntry& operator=(ZipEntry&&) noexcept;

  std::unique_ptr<EntryWalk> Walk;
  uint32_t DosDateTime = 0;  // date in the high word, time in the low word
  uint32_t UncompressedSize = 0;
  uint32_t CompressedSize = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string EntryName;  // as stored ("/" separated), at most 259 bytes
  uint16_t Method = 0;
  // The DOS attribute byte when the entry was made on a DOS-compatible
  // system, else 0.
  uint8_t Attributes = 0;
};

// What the report routine of ExtractAll receives. Sizes are 64-bit because
// the start and end reports carry totals over the whole archive.
struct ZipReport {
  std::string Name;
  uint32_t DosDateTime = 0;
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;
  uint32_t Attributes = 0;
  uint16_t Method = 0;
  uint8_t Ratio = 0;  // percent saved by compression, 0..100
  int32_t Status = 0;
};

// Called with the code being reported (a report status, or for a failed
// entry the failure's result code) and the record, whose Status is the
// entry's status.
using ZipReportRoutine = std::function<void(int code, const ZipReport& report)>;
// Asked before an existing file is overwritten; false skips the entry.
using ZipQuestionRoutine = std::function<bool(const std::string& output_path)>;
// Told the percent of an entry's compressed data read whenever it changes;
// setting it above 65534 aborts the extraction.
using ZipProgressRoutine = std::function<void(int& percent)>;
// Run between input blocks (a front end processes its pending events there).
using ZipIdleRoutine = std::function<void()>;
// Asked between input blocks; true aborts the extraction.
using ZipAbortTest = std::function<bool()>;

// True when the path contains "." but not ".exe", is not a directory and the
// file begins with the local-header signature.
bool IsArchive(const std::string& path);

// Opens the walk over the archive's central directory and fills `entry` with
// the first entry: kZipOk, kZipNoMoreEntries, kZipInternalError or
// kZipDirectoryError.
int FirstEntry(const std::string& archive_path, ZipEntry* entry);
// The next entry; kZipNoMoreEntries after the last one (the walk is closed).
int NextEntry(ZipEntry* entry);
void CloseEntryWalk(ZipEntry* entry);

// Extracts the entry whose local header lies at `local_header_offset` to
// `output_path` (a path ending in "/" is a directory entry). Runs the idle
// routine and the abort test between input blocks.
int ExtractEntry(const std::string& archive_path, const std::string& output_path, uint32_t local_header_offset,
                 const ZipProgressRoutine& progress = {});

// Extracts every entry whose name matches `mask` ("*.*" matches all) into
// `target_directory`, its control characters written as "_"
// (ReplaceControlCharacters); the number of entries extracted, or a
// negative code. The caller checks the sizes first (CheckDeclaredSizes).
int ExtractAll(const std::string& archive_path, const std::string& target_directory, const std::string& mask,
               ZipReportRoutine report = {}, ZipQuestionRoutine question = {});

// The sum of the entries' compressed sizes; their uncompressed sizes go to
// `uncompressed_total` (may be null). For a file that is not an archive both
// are the file's size.
int64_t ArchiveSizes(const std::string& archive_path, int64_t* uncompressed_total);

// What an archive's central directory declares, measured before anything is
// extracted, so that an archive made to fill the disk (a ZIP bomb) is
// stopped before its first byte is written.
struct ZipSizeCheck {
  // kZipOk; kZipNotEnoughSpace when the declared total exceeds the free
  // space of the target's file system less 5 %; kZipHighRatio when it is
  // above kZipBombFloor and more than kZipBombRatio times the archive's
  // size (the user may still allow that one).
  int Result = kZipOk;
  int64_t Declared = 0;  // the sum of the entries' uncompressed sizes
  int64_t ArchiveSize = 0;
  int64_t FreeSpace = -1;  // -1: not known, and not checked
};
inline constexpr int64_t kZipBombFloor = int64_t{1} << 30;
inline constexpr int64_t kZipBombRatio = 200;

ZipSizeCheck CheckDeclaredSizes(const std::string& archive_path, const std::string& target_directory);
// Why the check refused, in words to follow the archive's name; "" for
// kZipOk.
std::string DeclaredSizeText(const ZipSizeCheck& check, const std::string& target_directory);

// "NOTAZIPFILE" when the path is not an archive; otherwise the stored name of
// the first entry called setup.exe or install.exe (any case), or "".
std::string FindInstaller(const std::string& archive_path);

// Replace the routines used by a running ExtractAll and return the previous
// ones.
ZipReportRoutine SetReportRoutine(ZipReportRoutine routine);
ZipQuestionRoutine SetQuestionRoutine(ZipQuestionRoutine routine);

// Program-wide hooks of every extraction; each returns the previous one.
ZipIdleRoutine SetIdleRoutine(ZipIdleRoutine routine);
ZipAbortTest SetAbortTest(ZipAbortTest test);

}  // namespace brindle
