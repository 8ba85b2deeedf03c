#pragma once

#include <string>

#include "core/date_time.h"
#include "core/registry_store.h"

namespace brindle {

// The persistent options of the program, in the registry of the current user
// under "HKEY_CURRENT_USER\Software\Brindle\<section>", by section and key.
// The program reads them through the entries of settings_schema.h, which
// know each key's type and default; these are what the entries are built on.
// A read never fails: a missing section, a missing value or a value of
// another type yields the default. A write that cannot be done is dropped.
bool ReadBool(const std::string& section, const std::string& key, bool defaultValue);
int ReadInteger(const std::string& section, const std::string& key, int defaultValue);
// An empty stored string also reads as the default.
std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue);
TDateTime ReadDateTime(const std::string& section, const std::string& key, TDateTime defaultValue);
// The same reads of a given store.
bool ReadBool(const RegistryStore& store, const std::string& section, const std::string& key, bool defaultValue);
int ReadInteger(const RegistryStore& store, const std::string& section, const std::string& key, int defaultValue);
std::string ReadString(const RegistryStore& store, const std::string& section, const std::string& key,
                       const std::string& defaultValue);
TDateTime ReadDateTime(const RegistryStore& store, const std::string& section, const std::string& key,
                       TDateTime defaultValue);

void WriteBool(const std::string& section, const std::string& key, bool value);
void WriteInteger(const std::string& section, const std::string& key, int value);
void WriteString(const std::string& section, const std::string& key, const std::string& value);
void WriteDateTime(const std::string& section, const std::string& key, TDateTime value);

// Writes the full path of the running program as "Path" directly under the
// product key, for the browser helpers to find the program.
void SetProgramPath(const std::string& programPath);

// The store behind the accessors. Until one is installed, an empty
// in-memory store serves (reads give defaults, writes last for the process).
// The caller keeps ownership; nullptr restores the in-memory store.
RegistryStore& Registry();
void SetRegistry(RegistryStore* store);

// Fixed names.
inline constexpr const char* kProductKey = "HKEY_CURRENT_USER\\Software\\Brindle";
inline constexpr const char* kOptionsSection = "Options";
inline constexpr const char* kPartialDownloadsDirectoryKey = "PartialDownloadsDirectory";

}  // namespace brindle
