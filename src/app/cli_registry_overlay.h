#pragma once

#include <string>

#include "core/memory_registry.h"
#include "core/registry_store.h"
#include "core/settings_reader.h"

namespace brindle {

// The settings of one run: values set here are read before the stored
// ones and never written to the store, so options of the command line do
// not change what the next start reads. Everything else goes to the store.
class TCliRegistryOverlay final : public RegistryStore {
 public:
  explicit TCliRegistryOverlay(RegistryStore& store) : store_(store) {}

  void Override(const TIntegerSetting& setting, int value);
  void Override(const TBoolSetting& setting, bool value);

  bool KeyExists(const std::string& key) const override;
  std::optional<RegistryValue> GetValue(const std::string& key, const std::string& name) const override;
  // A write of an overridden value changes the run's value only.
  bool SetValue(const std::string& key, const std::string& name, const RegistryValue& value) override;

 private:
  RegistryStore& store_;
  MemoryRegistry overrides_;
};

}  // namespace brindle
