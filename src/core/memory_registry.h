#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/registry_store.h"

namespace brindle {

// A registry kept in memory: the store behind Registry() until the hive file
// is installed, the fake of tests, and the content of the hive file. Key
// paths and value names are matched ignoring ASCII case and keep the spelling
// they were first created with. Every parent of a key exists implicitly.
class MemoryRegistry : public RegistryStore {
 public:
  bool KeyExists(const std::string& key) const override;
  std::optional<RegistryValue> GetValue(const std::string& key, const std::string& name) const override;
  // False (and nothing stored) for a key path that is not valid.
  bool SetValue(const std::string& key, const std::string& name, const RegistryValue& value) override;

  bool CreateKey(const std::string& key);
  // True when there was such a value.
  bool DeleteValue(const std::string& key, const std::string& name);
  void Clear();

  // The keys created explicitly or by SetValue, parents before children,
  // siblings sorted ignoring case.
  std::vector<std::string> Keys() const;
  // The values of one key, sorted by name ignoring case.
  std::vector<std::pair<std::string, RegistryValue>> Values(const std::string& key) const;

  // A key path is backslash-separated non-empty names without line breaks.
  static bool ValidKeyPath(const std::string& key);

 private:
  // Orders ignoring ASCII case, with the backslash before every other
  // character so that a key's subkeys follow it.
  struct KeyOrder {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  struct Key {
    std::string Path;
    std::map<std::string, std::pair<std::string, RegistryValue>, KeyOrder> Values;
  };
  std::map<std::string, Key, KeyOrder> keys_;
};

}  // namespace brindle
