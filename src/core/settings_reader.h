#pragma once

#include <string>

#include "core/date_time.h"
#include "core/registry_store.h"
#include "core/settings.h"

namespace brindle {

// One stored setting: where it lives, and what a read gives when nothing of
// its type is stored. The entries of the program are in settings_schema.h.
template <class T>
struct TSetting {
  std::string Key;
  T Fixed{};
  // A default only known at the read (the system proxy, a folder of the
  // environment, now) replaces Fixed.
  T (*AtRead)() = nullptr;
  std::string Section = kOptionsSection;

  T Default() const { return AtRead ? AtRead() : Fixed; }
};
using TBoolSetting = TSetting<bool>;
using TIntegerSetting = TSetting<int>;
using TStringSetting = TSetting<std::string>;
using TDateTimeSetting = TSetting<TDateTime>;

// Reads settings at each call, from the program's store (Registry()) or
// from the one given. The engine carries one, so that a setting changed
// while a download runs reaches its next part; nothing is read in advance.
class TSettingsReader {
 public:
  TSettingsReader() = default;
  // store must outlive the reader.
  explicit TSettingsReader(const RegistryStore& store) : store_(&store) {}

  bool Read(const TBoolSetting& setting) const;
  int Read(const TIntegerSetting& setting) const;
  // An empty stored string also reads as the default.
  std::string Read(const TStringSetting& setting) const;
  TDateTime Read(const TDateTimeSetting& setting) const;
  // A date-time whose default is now, for a caller that works with one
  // moment throughout.
  TDateTime Read(const TDateTimeSetting& setting, TDateTime now) const;
  // A value of the setting's type is stored, whatever it is.
  bool Stored(const TIntegerSetting& setting) const;

 private:
  const RegistryStore& Store() const { return store_ ? *store_ : Registry(); }

  const RegistryStore* store_ = nullptr;
};

// Reads of the program's store.
bool Read(const TBoolSetting& setting);
int Read(const TIntegerSetting& setting);
std::string Read(const TStringSetting& setting);
TDateTime Read(const TDateTimeSetting& setting);
TDateTime Read(const TDateTimeSetting& setting, TDateTime now);
bool Stored(const TIntegerSetting& setting);

void Write(const TBoolSetting& setting, bool value);
void Write(const TIntegerSetting& setting, int value);
void Write(const TStringSetting& setting, const std::string& value);
void Write(const TDateTimeSetting& setting, TDateTime value);

}  // namespace brindle
