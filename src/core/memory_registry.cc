#include "core/memory_registry.h"

#include <algorithm>

namespace brindle {
namespace {

// The backslash ranks before every other character; letters rank as their
// lower case.
int OrderOf(char c) {
  if (c == '\\') return 0;
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return static_cast<unsigned char>(c) + 1;
}

}  // namespace

bool MemoryRegistry::KeyOrder::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return OrderOf(x) < OrderOf(y); });
}

bool MemoryRegistry::ValidKeyPath(const std::string& key) {
  if (key.empty() || key.front() == '\\' || key.back() == '\\') return false;
  if (key.find("\\\\") != std::string::npos) return false;
  return key.find_first_of("\r\n") == std::string::npos;
}

bool MemoryRegistry::KeyExists(const std::string& key) const {
  if (!ValidKeyPath(key)) return false;
  if (keys_.count(key)) return true;
  // A parent of a stored key: the first stored path at or after "key\" starts with it.
  const std::string prefix = key + "\\";
  const auto next = keys_.lower_bound(prefix);
  if (next == keys_.end() || next->first.size() < prefix.size()) return false;
  const KeyOrder less;
  const std::string head = next->first.substr(0, prefix.size());
  return !less(head, prefix) && !less(prefix, head);
}

std::optional<RegistryValue> MemoryRegistry::GetValue(const std::string& key, const std::string& name) const {
  const auto found = keys_.find(key);
  if (found == keys_.end()) return std::nullopt;
  const auto value = found->second.Values.find(name);
  if (value == found->second.Values.end()) return std::nullopt;
  return value->second.second;
}

bool MemoryRegistry::CreateKey(const std::string& key) {
  if (!ValidKeyPath(key)) return false;
  auto [entry, inserted] = keys_.try_emplace(key);
  if (inserted) entry->second.Path = key;
  return true;
}

bool MemoryRegistry::SetValue(const std::string& key, const std::string& name, const RegistryValue& value) {
  if (!CreateKey(key)) return false;
  auto& values = keys_.find(key)->second.Values;
  auto [entry, inserted] = values.try_emplace(name, name, value);
  if (!inserted) entry->second.second = value;
  return true;
}

bool MemoryRegistry::DeleteValue(const std::string& key, const std::string& name) {
  const auto found = keys_.find(key);
  return found != keys_.end() && found->second.Values.erase(name) > 0;
}

void MemoryRegistry::Clear() { keys_.clear(); }

std::vector<std::string> MemoryRegistry::Keys() const {
  std::vector<std::string> result;
  result.reserve(keys_.size());
  for (const auto& [folded, key] : keys_) result.push_back(key.Path);
  return result;
}

std::vector<std::pair<std::string, RegistryValue>> MemoryRegistry::Values(const std::string& key) const {
  std::vector<std::pair<std::string, RegistryValue>> result;
  const auto found = keys_.find(key);
  if (found == keys_.end()) return result;
  for (const auto& [folded, value] : found->second.Values) result.push_back(value);
  return result;
}

}  // namespace brindle
