#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "core/ascii_case.h"
#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/text_file.h"

namespace brindle {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr size_t kNone = static_cast<size_t>(-1);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The name of a "[Section]" line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// The key of a "Key=Value" line; comments (";") and other lines have none.
std::optional<std::string_view> KeyOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == ';' || line.front() == '[') return std::nullopt;
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, equals));
}

std::string_view ValueOf(std::string_view line) {
  std::string_view value = Trim(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return value;
}

// A value that reading would change (outer blanks, an outer pair of quotes)
// is written inside one pair of quotes, which reading removes again.
std::string EncodeValue(std::string_view value) {
  const bool needsQuotes =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                         (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

}  // namespace

bool TProfileFile::ValidEntry(std::string_view section, std::string_view key, std::string_view value) {
  constexpr std::string_view kLineBreaks = "\r\n";
  if (section.find_first_of(kLineBreaks) != std::string_view::npos || section.find(']') != std::string_view::npos)
    return false;
  if (value.find_first_of(kLineBreaks) != std::string_view::npos) return false;
  key = Trim(key);
  return !key.empty() && key.find_first_of("\r\n=") == std::string_view::npos && key.front() != '[' &&
         key.front() != ';';
}

bool TProfileFile::Load(const std::string& path) {
  path_ = path;
  std::string text;
  loaded_ = ReadFileText(path, text) != TReadResult::Failed;
  Parse(text);
  return loaded_;
}

void TProfileFile::Parse(std::string_view text) {
  lines_.clear();
  bom_ = text.substr(0, kBom.size()) == kBom;
  if (bom_) text.remove_prefix(kBom.size());
  const size_t firstBreak = text.find('\n');
  crlf_ = firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    // Every CR before the LF goes, so that a written file reads back the same.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::string TProfileFile::Text() const {
  const std::string_view ending = crlf_ ? "\r\n" : "\n";
  std::string text = bom_ ? std::string(kBom) : std::string();
  for (const std::string& line : lines_) {
    text += line;
    text += ending;
  }
  return text;
}

size_t TProfileFile::FindSection(std::string_view section) const {
  section = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionOf(lines_[i]);
    if (name && SameTextIgnoringCase(*name, section)) return i;
  }
  return kNone;
}

size_t TProfileFile::FindKey(size_t sectionLine, std::string_view key) const {
  key = Trim(key);
  for (size_t i = sectionLine + 1; i < lines_.size() && !SectionOf(lines_[i]); ++i) {
    const auto name = KeyOf(lines_[i]);
    if (name && SameTextIgnoringCase(*name, key)) return i;
  }
  return kNone;
}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const {
  const size_t sectionLine = FindSection(section);
  if (sectionLine == kNone) return defaultValue;
  const size_t keyLine = FindKey(sectionLine, key);
  return keyLine == kNone ? defaultValue : std::string(ValueOf(lines_[keyLine]));
}

bool TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  if (!ValidEntry(section, key, value)) return false;
  const std::string encoded = EncodeValue(value);
  const size_t sectionLine = FindSection(section);
  if (sectionLine == kNone) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + section + "]");
    lines_.push_back(std::string(Trim(key)) + "=" + encoded);
    return true;
  }
  const size_t keyLine = FindKey(sectionLine, key);
  if (keyLine != kNone) {
    lines_[keyLine] = std::string(*KeyOf(lines_[keyLine])) + "=" + encoded;
    return true;
  }
  // After the section's last entry, so blank lines and comments that lead
  // into the next section stay with it.
  size_t insertAt = sectionLine + 1;
  for (size_t i = sectionLine + 1; i < lines_.size() && !SectionOf(lines_[i]); ++i)
    if (KeyOf(lines_[i])) insertAt = i + 1;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::string(Trim(key)) + "=" + encoded);
  return true;
}

bool TProfileFile::Save(TDurability durability) const {
  if (!loaded_ || path_.empty()) return false;
  struct stat info {};
  const mode_t mode = ::stat(path_.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0600;
  return WriteFileAtomically(path_, Text(), mode, durability);
}

std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
  try {
    TProfileFile profile;
    profile.Load(file);
    return profile.ReadString(section, key, defaultValue);
  } catch (...) {
    LogError("ReadProfileString");
    return defaultValue;
  }
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  try {
    TProfileFile profile;
    return profile.Load(file) && profile.WriteString(section, key, value) && profile.Save();
  } catch (...) {
    LogError("WriteProfileString");
    return false;
  }
}

}  // namespace brindle
