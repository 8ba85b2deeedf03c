#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/atomic_file.h"

namespace brindle {

// An INI ("profile") file: "[Section]" lines, "Key=Value" lines below them.
// Section and key names are matched ignoring ASCII case; the first section
// and the first key of a name count. Values are read with surrounding blanks
// and one pair of surrounding double quotes removed, at any length. Writing
// keeps the order of sections and keys, comments and lines it does not
// understand, and the file's line ending (LF for a new file).
class TProfileFile {
 public:
  // Reads the whole file; a missing file is an empty profile. False when the
  // file exists but cannot be read: the profile is then empty and Save
  // refuses, so that a file never read is never overwritten.
  bool Load(const std::string& path);
  void Parse(std::string_view text);
  std::string Text() const;

  std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
  // Updates the key in place, or appends it at the end of its section, or
  // appends the section at the end of the file. False, and nothing written,
  // for an entry that could not be read back as the same entry.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Rewrites the loaded file atomically, keeping its permissions (0600 for
  // a new file: records carry addresses that may hold passwords).
  bool Save(TDurability durability = TDurability::Synced) const;

  // A section, key and value that can be written without changing other
  // entries: no line breaks anywhere (they would add lines of their own,
  // so a value could inject keys), no "]" in the section, and a non-empty key
  // without "=" that does not start with "[" or ";".
  static bool ValidEntry(std::string_view section, std::string_view key, std::string_view value);

 private:
  size_t FindSection(std::string_view section) const;
  size_t FindKey(size_t sectionLine, std::string_view key) const;

  std::vector<std::string> lines_;
  std::string path_;
  bool loaded_ = false;
  bool crlf_ = false;
  bool bom_ = false;
};

// Single-value access to an INI file. A read of a missing file, section or
// key gives the default. A write creates the file and the section when
// missing and rewrites the file atomically; false when it could not.
std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& defaultValue);
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace brindle
