#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/registry_store.h"

namespace brindle {

// The registry of the program: a hive file in the text format of Windows .reg
// files, loaded once at start and rewritten whole and atomically (mode 0600:
// proxy passwords live there) after every change.
class RegistryHiveFile : public RegistryStore {
 public:
  RegistryHiveFile();
  ~RegistryHiveFile() override;

  // Reads the hive at path and keeps path for the writes. A missing file is
  // an empty hive. A file that cannot be parsed is renamed to path + ".bad"
  // (replacing an older one) and an empty hive starts; a file that cannot be
  // read is left alone and this run keeps its changes in memory only. False
  // in those two cases; the program goes on either way.
  bool Load(const std::string& path);

  // Replaces the content with the given .reg text; false (and an empty hive)
  // when the text is malformed.
  bool Parse(std::string_view text);
  std::string Serialize() const;

  bool KeyExists(const std::string& key) const override;
  std::optional<RegistryValue> GetValue(const std::string& key, const std::string& name) const override;
  // The change stays in memory even when the file cannot be written; the
  // result is then false.
  bool SetValue(const std::string& key, const std::string& name, const RegistryValue& value) override;

 private:
  struct Content;
  bool Store();

  std::unique_ptr<Content> content_;
  std::string path_;
  bool dirty_ = false;  // the file lacks a change made in memory
};

}  // namespace brindle
