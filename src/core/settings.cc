#include "core/settings.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/log_error.h"
#include "core/memory_registry.h"

namespace brindle {
namespace {

RegistryStore* installedStore = nullptr;

MemoryRegistry& FallbackStore() {
  static MemoryRegistry store;
  return store;
}

std::string SectionKey(const std::string& section) { return std::string(kProductKey) + "\\" + section; }

// The value of the given type, or nothing; never creates the section's key.
std::optional<RegistryValue> ReadTyped(const RegistryStore& store, const std::string& key, const std::string& name,
                                       RegistryType type) {
  if (!store.KeyExists(key)) return std::nullopt;
  std::optional<RegistryValue> value = store.GetValue(key, name);
  if (!value || value->Type != type) return std::nullopt;
  return value;
}

void Write(const std::string& section, const std::string& key, const RegistryValue& value) {
  // A write that cannot be stored is dropped, as every writer expects.
  Registry().SetValue(SectionKey(section), key, value);
}

RegistryValue DwordValue(uint32_t number) {
  RegistryValue value;
  value.Type = RegistryType::Dword;
  value.Dword = number;
  return value;
}

RegistryValue StringValue(const std::string& text) {
  RegistryValue value;
  value.Type = RegistryType::String;
  value.Data = text;
  return value;
}

}  // namespace

RegistryStore& Registry() { return installedStore ? *installedStore : FallbackStore(); }

void SetRegistry(RegistryStore* store) { installedStore = store; }

bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) {
  return ReadBool(Registry(), section, key, defaultValue);
}

int ReadInteger(const std::string& section, const std::string& key, int defaultValue) {
  return ReadInteger(Registry(), section, key, defaultValue);
}

std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) {
  return ReadString(Registry(), section, key, defaultValue);
}

TDateTime ReadDateTime(const std::string& section, const std::string& key, TDateTime defaultValue) {
  return ReadDateTime(Registry(), section, key, defaultValue);
}

bool ReadBool(const RegistryStore& store, const std::string& section, const std::string& key, bool defaultValue) {
  try {
    const auto value = ReadTyped(store, SectionKey(section), key, RegistryType::Dword);
    return value ? value->Dword != 0 : defaultValue;
  } catch (...) {
    LogError("ReadBool");
    return defaultValue;
  }
}

int ReadInteger(const RegistryStore& store, const std::string& section, const std::string& key, int defaultValue) {
  try {
    const auto value = ReadTyped(store, SectionKey(section), key, RegistryType::Dword);
    return value ? static_cast<int32_t>(value->Dword) : defaultValue;
  } catch (...) {
    LogError("ReadInteger");
    return defaultValue;
  }
}

std::string ReadString(const RegistryStore& store, const std::string& section, const std::string& key,
                       const std::string& defaultValue) {
  try {
    const auto value = ReadTyped(store, SectionKey(section), key, RegistryType::String);
    return value && !value->Data.empty() ? value->Data : defaultValue;
  } catch (...) {
    LogError("ReadString");
    return defaultValue;
  }
}

TDateTime ReadDateTime(const RegistryStore& store, const std::string& section, const std::string& key,
                       TDateTime defaultValue) {
  try {
    const auto value = ReadTyped(store, SectionKey(section), key, RegistryType::Binary);
    if (!value || value->Data.size() != 8) return defaultValue;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(value->Data[static_cast<size_t>(i)]);
    const double result = std::bit_cast<double>(bits);
    // Eight bytes of garbage can spell NaN or infinity, which no date is.
    return std::isfinite(result) ? result : defaultValue;
  } catch (...) {
    LogError("ReadDateTime");
    return defaultValue;
  }
}

void WriteBool(const std::string& section, const std::string& key, bool value) {
  try {
    Write(section, key, DwordValue(value ? 1 : 0));
  } catch (...) {
    LogError("WriteBool");
  }
}

void WriteInteger(const std::string& section, const std::string& key, int value) {
  try {
    Write(section, key, DwordValue(static_cast<uint32_t>(value)));
  } catch (...) {
    LogError("WriteInteger");
  }
}

void WriteString(const std::string& section, const std::string& key, const std::string& value) {
  try {
    Write(section, key, StringValue(value));
  } catch (...) {
    LogError("WriteString");
  }
}

void WriteDateTime(const std::string& section, const std::string& key, TDateTime value) {
  try {
    RegistryValue stored;
    stored.Type = RegistryType::Binary;
    uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i, bits >>= 8) stored.Data.push_back(static_cast<char>(bits & 0xff));
    Write(section, key, stored);
  } catch (...) {
    LogError("WriteDateTime");
  }
}

void SetProgramPath(const std::string& programPath) {
  try {
    Registry().SetValue(kProductKey, "Path", StringValue(programPath));
  } catch (...) {
    LogError("SetProgramPath");
  }
}

}  // namespace brindle
