#include "core/settings_reader.h"

#include <climits>

namespace brindle {

bool TSettingsReader::Read(const TBoolSetting& setting) const {
  return ReadBool(Store(), setting.Section, setting.Key, setting.Default());
}

int TSettingsReader::Read(const TIntegerSetting& setting) const {
  return ReadInteger(Store(), setting.Section, setting.Key, setting.Default());
}

std::string TSettingsReader::Read(const TStringSetting& setting) const {
  return ReadString(Store(), setting.Section, setting.Key, setting.Default());
}

TDateTime TSettingsReader::Read(const TDateTimeSetting& setting) const {
  return ReadDateTime(Store(), setting.Section, setting.Key, setting.Default());
}

TDateTime TSettingsReader::Read(const TDateTimeSetting& setting, TDateTime now) const {
  return ReadDateTime(Store(), setting.Section, setting.Key, now);
}

bool TSettingsReader::Stored(const TIntegerSetting& setting) const {
  // Two reads with different defaults tell a missing value from any stored one.
  const int read = ReadInteger(Store(), setting.Section, setting.Key, INT_MIN);
  return read != INT_MIN || ReadInteger(Store(), setting.Section, setting.Key, INT_MAX) == INT_MIN;
}

bool Read(const TBoolSetting& setting) { return TSettingsReader().Read(setting); }
int Read(const TIntegerSetting& setting) { return TSettingsReader().Read(setting); }
std::string Read(const TStringSetting& setting) { return TSettingsReader().Read(setting); }
TDateTime Read(const TDateTimeSetting& setting) { return TSettingsReader().Read(setting); }
TDateTime Read(const TDateTimeSetting& setting, TDateTime now) { return TSettingsReader().Read(setting, now); }
bool Stored(const TIntegerSetting& setting) { return TSettingsReader().Stored(setting); }

void Write(const TBoolSetting& setting, bool value) { WriteBool(setting.Section, setting.Key, value); }
void Write(const TIntegerSetting& setting, int value) { WriteInteger(setting.Section, setting.Key, value); }
void Write(const TStringSetting& setting, const std::string& value) {
  WriteString(setting.Section, setting.Key, value);
}
void Write(const TDateTimeSetting& setting, TDateTime value) { WriteDateTime(setting.Section, setting.Key, value); }

}  // namespace brindle
