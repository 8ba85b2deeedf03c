#include "manager/local_download_info.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <optional>

#include "core/checksum.h"
#include "core/file_names.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "core/url.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/field_escape.h"
#include "core/text_file.h"
#include "platform/profile.h"

namespace brindle {
namespace {

constexpr const char* kSection = "Options";
// Bounds the work a damaged record file can cause; a download has far
// fewer servers.
constexpr int kMaxServers = 1000;

// A decimal integer with an optional sign, or "0x" and up to 16 hex digits
// (two's complement, so 0xFFFFFFFFFFFFFFFF is -1). Nothing else.
std::optional<int64_t> ParseInteger(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    if (text.size() > 16) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<int64_t>(value);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  }
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

TDateTime ParseDate(const std::string& text) {
  const std::optional<TDateTime> value = TextToDateTime(text);
  return value ? *value : Now();
}

std::string Numbered(const char* key, int index) { return key + std::to_string(index); }

}  // namespace

TLocalDownloadinfo::TLocalDownloadinfo(std::unique_ptr<TUrl> url, const std::string& tempFileName,
                                       const TCategoryList* categories)
    : TDownloadRecord(std::move(url), tempFileName) {
  if (TempFileName.empty()) {
    const std::string directory = Read(setting::PartialDownloadsDirectory);
    EnsureDirectory(directory);
    TempFileName = GetTempFileName(directory);
  }
  std::string text;
  if (ReadFileText(TempFileName + ".dat", text) != TReadResult::Ok) text.clear();
  ReadRecord(text, categories);
}

TLocalDownloadinfo::~TLocalDownloadinfo() = default;

void TLocalDownloadinfo::ReadRecord(std::string_view text, const TCategoryList* categories) {
  TProfileFile profile;
  profile.Parse(text);
  const auto read = [&profile](const std::string& key) { return profile.ReadString(kSection, key, ""); };

  const std::string url = UnescapeField(read("URL"));
  if (!url.empty()) Url = std::make_unique<TUrl>(url);
  LocalFileName = UnescapeField(read("LocalFileName"));
  // Before the status, which drops them from a download that is done (older
  // versions kept them).
  Referer = UnescapeField(read("Referer"));
  Cookie = UnescapeField(read("Cookie"));
  SetStatus(TDownloadStatus::FromText(UnescapeField(read("Status"))));

  const std::optional<int64_t> size = ParseInteger(read("FileSize"));
  FileSize = size && *size >= -1 ? *size : 0;
  const std::optional<int64_t> parts = ParseInteger(read("NumOfParts"));
  NumOfParts = parts && *parts >= -1 && *parts <= std::numeric_limits<int>::max() ? static_cast<int>(*parts) : -1;

  Category = categories ? categories->GetByName(UnescapeField(read("Category"))) : nullptr;
  LastActivity = ParseDate(read("LastActivity"));
  Created = ParseDate(read("Created"));
  Description = UnescapeField(read("Description"));

  ClearValidators();
  for (int i = 1; i <= kMaxServers; ++i) {
    const std::string server = UnescapeField(read(Numbered("Server", i)));
    if (server.empty()) break;
    SetValidators(server, {UnescapeField(read(Numbered("ETag", i))), UnescapeField(read(Numbered("LastModified", i)))});
  }
  // Kilobytes per second; missing (an older record), malformed or 0: none.
  const std::optional<int64_t> limit = ParseInteger(read("SpeedLimit"));
  SpeedLimit = limit && *limit > 0 && *limit <= kMaxSpeedLimitKiB ? *limit : 0;
  ReplaceFile = read("ReplaceFile") == "1";
  // Malformed: none, as in a record from before checksums.
  Checksum = ParseChecksum(read("Checksum"));
  ServerDigest = ParseChecksum(read("ServerDigest"));
}

void TLocalDownloadinfo::WriteKeys(TProfileFile& profile) const {
  // Escaped values hold no line breaks, so every write is accepted.
  const auto write = [&profile](const std::string& key, const std::string& value) {
    profile.WriteString(kSection, key, value);
  };
  write("URL", EscapeField(Url->Url));
  write("LocalFileName", EscapeField(LocalFileName));
  write("Status", EscapeField(Status().Saved().Text()));
  write("FileSize", std::to_string(FileSize));
  write("NumOfParts", std::to_string(NumOfParts));
  write("Category", Category ? EscapeField(Category->Name()) : "");
  write("LastActivity", DateTimeToText(LastActivity));
  write("Created", DateTimeToText(Created));
  write("Description", EscapeField(Description));

  int index = 0;
  for (const auto& [server, validators] : AllValidators()) {
    ++index;
    write(Numbered("Server", index), EscapeField(server));
    write(Numbered("ETag", index), EscapeField(validators.ETag));
    write(Numbered("LastModified", index), EscapeField(validators.LastModified));
  }
  // Servers forgotten since the last save must not come back at the next load.
  for (++index; !profile.ReadString(kSection, Numbered("Server", index), "").empty(); ++index) {
    write(Numbered("Server", index), "");
    write(Numbered("ETag", index), "");
    write(Numbered("LastModified", index), "");
  }
  // After every older key, so that older records read as before; a record
  // that never had a limit keeps the form it had.
  if (SpeedLimit > 0 || !profile.ReadString(kSection, "SpeedLimit", "").empty())
    write("SpeedLimit", std::to_string(SpeedLimit));
  // Only records that have them get the keys, so older files stay as they were.
  if (!Referer.empty() || !profile.ReadString(kSection, "Referer", "").empty()) write("Referer", EscapeField(Referer));
  if (!Cookie.empty() || !profile.ReadString(kSection, "Cookie", "").empty()) write("Cookie", EscapeField(Cookie));
  if (ReplaceFile || !profile.ReadString(kSection, "ReplaceFile", "").empty())
    write("ReplaceFile", ReplaceFile ? "1" : "0");
  const auto writeChecksum = [&](const char* key, const std::optional<TChecksum>& checksum) {
    if (checksum || !profile.ReadString(kSection, key, "").empty()) write(key, checksum ? checksum->Text() : "");
  };
  writeChecksum("Checksum", Checksum);
  writeChecksum("ServerDigest", ServerDigest);
}

std::string TLocalDownloadinfo::RecordText(std::string_view existingText) const {
  TProfileFile profile;
  // A new record file gets the line end of the program's other text files.
  profile.Parse(existingText.empty() ? std::string_view("[Options]\r\n") : existingText);
  WriteKeys(profile);
  return profile.Text();
}

bool TLocalDownloadinfo::Save(TDurability durability) const {
  try {
    EnsureDirectory(DirectoryOf(TempFileName));
    TProfileFile profile;
    if (!profile.Load(TempFileName + ".dat")) return false;
    if (profile.Text().empty()) profile.Parse("[Options]\r\n");
    WriteKeys(profile);
    return profile.Save(durability);
  } catch (...) {
    LogError("TLocalDownloadinfo.Save");
    return false;
  }
}

bool TLocalDownloadinfo::DeleteDatFile() const {
  return ::unlink((TempFileName + ".dat").c_str()) == 0 || errno == ENOENT;
}

}  // namespace brindle
