#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brindle {

// A typed value of the registry.
enum class RegistryType { String, Dword, Binary };

struct RegistryValue {
  RegistryType Type = RegistryType::String;
  uint32_t Dword = 0;  // RegistryType::Dword
  std::string Data;    // String: the text; Binary: the raw bytes
};

// The key/value store the settings accessors read and write, shaped like the
// Windows registry they stand in for: keys are full paths such as
// "HKEY_CURRENT_USER\Software\Brindle\Options" (backslash separated, matched
// ignoring ASCII case), each holding named typed values. The program uses the
// hive file of the platform layer; tests use MemoryRegistry.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  virtual bool KeyExists(const std::string& key) const = 0;
  // nullopt when the key or the value does not exist.
  virtual std::optional<RegistryValue> GetValue(const std::string& key, const std::string& name) const = 0;
  // Creates the key and its parents when missing, replaces any older value
  // of any type. False when the value could not be stored.
  virtual bool SetValue(const std::string& key, const std::string& name, const RegistryValue& value) = 0;
};

}  // namespace brindle
