#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace brindle::test {

// Environment variables set (nullopt: unset) while it lives; their old values
// come back when it goes. Child processes started meanwhile inherit them.
class ScopedEnvironment {
 public:
  using Values = std::map<std::string, std::optional<std::string>>;

  explicit ScopedEnvironment(const Values& values = {}) {
    for (const auto& [name, value] : values) Set(name, value);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) Put(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    Put(name, value);
  }

 private:
  static void Put(const std::string& name, const std::optional<std::string>& value) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }

  Values saved_;
};

}  // namespace brindle::test
