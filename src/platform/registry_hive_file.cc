#include "platform/registry_hive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/ascii_case.h"
#include "core/atomic_file.h"
#include "core/memory_registry.h"
#include "core/paths.h"
#include "core/text_file.h"

// The file format, as Windows' registry editor exports it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Brindle\Options]
//   "Name"="text"
//   "Count"=dword:0000000a
//   "When"=hex:00,00,00,00,00,a2,e6,40
//
// Inside quoted names and texts a backslash escapes: \\ and \" as in Windows,
// and, our addition so that a text holding a line break survives a round
// trip, \r and \n for CR and LF. A backslash before any other character is
// kept as it is. "hex:" lists may continue on the next line after a
// trailing backslash. Values of other types ("hex(2):" and the like) are not
// readable by the program but are kept and written back unchanged. "@" names
// the default value (the empty name).

namespace brindle {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr size_t kBytesPerLine = 25;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A key line may not start with "-": that form deletes a key in .reg files.
bool ValidHiveKey(const std::string& key) { return MemoryRegistry::ValidKeyPath(key) && key.front() != '-'; }

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
  if (a.Type != b.Type) return false;
  return a.Type == RegistryType::Dword ? a.Dword == b.Dword : a.Data == b.Data;
}

std::string Quote(std::string_view text) {
  std::string result = "\"";
  for (const char c : text) {
    switch (c) {
      case '\\': result += "\\\\"; break;
      case '"': result += "\\\""; break;
      case '\r': result += "\\r"; break;
      case '\n': result += "\\n"; break;
      default: result += c;
    }
  }
  return result + "\"";
}

// Reads a quoted text starting at text[position] == '"'; moves position past
// the closing quote. False when the text is not terminated on this line.
bool Unquote(std::string_view text, size_t& position, std::string& result) {
  result.clear();
  for (size_t i = position + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      position = i + 1;
      return true;
    }
    if (c != '\\') {
      result += c;
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': result += '\\'; break;
      case '"': result += '"'; break;
      case 'r': result += '\r'; break;
      case 'n': result += '\n'; break;
      default: result += '\\', result += text[i];
    }
  }
  return false;
}

// "00,1f,..." (possibly empty); false on anything else.
bool ParseBytes(std::string_view list, std::string& bytes) {
  bytes.clear();
  list = Trim(list);
  if (list.empty()) return true;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view token = Trim(list.substr(0, comma));
    if (token.empty() || token.size() > 2) return false;
    int value = 0;
    for (const char c : token) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes += static_cast<char>(value);
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

bool ParseDword(std::string_view digits, uint32_t& value) {
  digits = Trim(digits);
  if (digits.empty() || digits.size() > 8) return false;
  value = 0;
  for (const char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

}  // namespace

struct RegistryHiveFile::Content {
  // A value of a type the program does not read, kept to be written back.
  struct Unreadable {
    std::string Key, Name, Data;
  };

  MemoryRegistry Values;
  std::vector<Unreadable> Unreadables;

  // True when there was one.
  bool RemoveUnreadable(const std::string& key, const std::string& name) {
    for (auto it = Unreadables.begin(); it != Unreadables.end(); ++it) {
      if (SameTextIgnoringCase(it->Key, key) && SameTextIgnoringCase(it->Name, name)) {
        Unreadables.erase(it);
        return true;
      }
    }
    return false;
  }

  void Clear() {
    Values.Clear();
    Unreadables.clear();
  }

  bool ParseValue(const std::vector<std::string_view>& lines, size_t& index, const std::string& key);
  bool Parse(std::string_view text);
};

// One value line (and its continuation lines) of the current key.
bool RegistryHiveFile::Content::ParseValue(const std::vector<std::string_view>& lines, size_t& index,
                                           const std::string& key) {
  const std::string_view line = Trim(lines[index]);
  std::string name;  // "@", the default value, has the empty name
  size_t position = 1;
  if (line.front() == '"') {
    position = 0;
    if (!Unquote(line, position, name)) return false;
  }
  std::string_view rest = Trim(line.substr(position));
  if (rest.empty() || rest.front() != '=') return false;
  rest = Trim(rest.substr(1));

  RegistryValue value;
  if (!rest.empty() && rest.front() == '"') {
    size_t end = 0;
    if (!Unquote(rest, end, value.Data) || end != rest.size()) return false;
    value.Type = RegistryType::String;
  } else if (StartsWithIgnoringCase(rest, "dword:")) {
    if (!ParseDword(rest.substr(6), value.Dword)) return false;
    value.Type = RegistryType::Dword;
  } else if (rest == "-") {
    Values.DeleteValue(key, name);
    RemoveUnreadable(key, name);
    return true;
  } else if (StartsWithIgnoringCase(rest, "hex")) {
    std::string data(rest);
    while (!data.empty() && data.back() == '\\') {
      if (++index == lines.size()) return false;
      data.pop_back();
      data += Trim(lines[index]);
    }
    std::string_view list = data;
    if (StartsWithIgnoringCase(list, "hex:")) {
      if (!ParseBytes(list.substr(4), value.Data)) return false;
      value.Type = RegistryType::Binary;
    } else {
      // "hex(N):" with N a hexadecimal type number.
      const size_t close = list.find("):");
      uint32_t type = 0;
      if (!StartsWithIgnoringCase(list, "hex(") || close == std::string_view::npos ||
          !ParseDword(list.substr(4, close - 4), type))
        return false;
      std::string bytes;
      if (!ParseBytes(list.substr(close + 2), bytes)) return false;
      Values.DeleteValue(key, name);
      RemoveUnreadable(key, name);
      Unreadables.push_back({key, name, data});
      return true;
    }
  } else {
    return false;
  }
  RemoveUnreadable(key, name);
  return Values.SetValue(key, name, value);
}

bool RegistryHiveFile::Content::Parse(std::string_view text) {
  Clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::vector<std::string_view> lines = SplitLines(text);
  size_t index = 0;
  while (index < lines.size() && Trim(lines[index]).empty()) ++index;
  if (index == lines.size()) return true;  // an empty file is an empty hive
  if (Trim(lines[index]) != kHeader) return false;

  std::string key;
  for (++index; index < lines.size(); ++index) {
    const std::string_view line = Trim(lines[index]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.size() < 2 || line.back() != ']') return false;
      key = std::string(line.substr(1, line.size() - 2));
      if (!ValidHiveKey(key) || !Values.CreateKey(key)) return false;
    } else if (line.front() == '"' || line.front() == '@') {
      if (key.empty() || !ParseValue(lines, index, key)) return false;
    } else {
      return false;
    }
  }
  return true;
}

RegistryHiveFile::RegistryHiveFile() : content_(std::make_unique<Content>()) {}

RegistryHiveFile::~RegistryHiveFile() = default;

bool RegistryHiveFile::Parse(std::string_view text) {
  dirty_ = false;
  if (content_->Parse(text)) return true;
  content_->Clear();
  return false;
}

std::string RegistryHiveFile::Serialize() const {
  std::string text = std::string(kHeader) + "\n\n";
  for (const std::string& key : content_->Values.Keys()) {
    text += "[" + key + "]\n";
    for (const auto& [name, value] : content_->Values.Values(key)) {
      text += name.empty() ? "@" : Quote(name);
      text += '=';
      switch (value.Type) {
        case RegistryType::String:
          text += Quote(value.Data);
          break;
        case RegistryType::Dword: {
          char digits[16];
          std::snprintf(digits, sizeof digits, "dword:%08x", value.Dword);
          text += digits;
          break;
        }
        case RegistryType::Binary: {
          text += "hex:";
          static constexpr char kHex[] = "0123456789abcdef";
          for (size_t i = 0; i < value.Data.size(); ++i) {
            if (i > 0) text += i % kBytesPerLine == 0 ? ",\\\n  " : ",";
            const auto byte = static_cast<unsigned char>(value.Data[i]);
            text += kHex[byte >> 4];
            text += kHex[byte & 15];
          }
          break;
        }
      }
      text += '\n';
    }
    for (const Content::Unreadable& unreadable : content_->Unreadables) {
      if (SameTextIgnoringCase(unreadable.Key, key))
        text += (unreadable.Name.empty() ? "@" : Quote(unreadable.Name)) + "=" + unreadable.Data + "\n";
    }
    text += '\n';
  }
  return text;
}

bool RegistryHiveFile::Load(const std::string& path) {
  path_ = path;
  content_->Clear();
  dirty_ = false;
  std::string text;
  const TReadResult read = ReadFileText(path, text);
  if (read == TReadResult::Missing) return true;
  if (read == TReadResult::Failed) {
    // Writing would replace a file whose content was never seen.
    path_.clear();
    return false;
  }
  if (Parse(text)) return true;
  // Set aside, not overwritten: the user may still want what is in it.
  ::rename(path.c_str(), (path + ".bad").c_str());
  return false;
}

bool RegistryHiveFile::KeyExists(const std::string& key) const { return content_->Values.KeyExists(key); }

std::optional<RegistryValue> RegistryHiveFile::GetValue(const std::string& key, const std::string& name) const {
  return content_->Values.GetValue(key, name);
}

bool RegistryHiveFile::SetValue(const std::string& key, const std::string& name, const RegistryValue& value) {
  if (!ValidHiveKey(key)) return false;
  const bool replacedUnreadable = content_->RemoveUnreadable(key, name);
  const std::optional<RegistryValue> old = content_->Values.GetValue(key, name);
  if (!replacedUnreadable && !dirty_ && old && SameValue(*old, value)) return true;
  content_->Values.SetValue(key, name, value);
  return Store();
}

bool RegistryHiveFile::Store() {
  dirty_ = true;
  if (path_.empty()) return false;
  const size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) EnsureDirectory(path_.substr(0, slash), 0700);
  if (!WriteFileAtomically(path_, Serialize(), 0600)) return false;
  dirty_ = false;
  return true;
}

}  // namespace brindle
