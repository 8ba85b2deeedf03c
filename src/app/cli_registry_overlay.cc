#include "app/cli_registry_overlay.h"

#include "core/settings.h"

namespace brindle {
namespace {

std::string SectionKey(const std::string& section) { return std::string(kProductKey) + "\\" + section; }

RegistryValue DwordValue(int value) {
  RegistryValue v;
  v.Type = RegistryType::Dword;
  v.Dword = static_cast<uint32_t>(value);
  return v;
}

}  // namespace

void TCliRegistryOverlay::Override(const TIntegerSetting& setting, int value) {
  overrides_.SetValue(SectionKey(setting.Section), setting.Key, DwordValue(value));
}

void TCliRegistryOverlay::Override(const TBoolSetting& setting, bool value) {
  overrides_.SetValue(SectionKey(setting.Section), setting.Key, DwordValue(value ? 1 : 0));
}

bool TCliRegistryOverlay::KeyExists(const std::string& key) const {
  return overrides_.KeyExists(key) || store_.KeyExists(key);
}

std::optional<RegistryValue> TCliRegistryOverlay::GetValue(const std::string& key, const std::string& name) const {
  if (auto value = overrides_.GetValue(key, name)) return value;
  return store_.GetValue(key, name);
}

bool TCliRegistryOverlay::SetValue(const std::string& key, const std::string& name, const RegistryValue& value) {
  if (overrides_.GetValue(key, name)) return overrides_.SetValue(key, name, value);
  return store_.SetValue(key, name, value);
}

}  // namespace brindle
