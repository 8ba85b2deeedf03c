#include "core/crash_point.h"

#ifdef BRINDLE_TEST_HOOKS
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string>
#endif

namespace brindle {

#ifdef BRINDLE_TEST_HOOKS
namespace {

// Whether target ("name" or "name:fragment") names this point.
bool Names(std::string_view target, const char* name, std::string_view detail) {
  std::string_view fragment;
  if (const size_t colon = target.find(':'); colon != std::string_view::npos) {
    fragment = target.substr(colon + 1);
    target = target.substr(0, colon);
  }
  return target == name && (fragment.empty() || detail.find(fragment) != std::string_view::npos);
}

}  // namespace

void CrashPoint(const char* name, std::string_view detail) {
  const char* value = std::getenv("BRINDLE_CRASH_AT");
  if (!value || !*value) return;
  std::string_view target(value);
  long hit = 1;
  if (const size_t hash = target.rfind('#'); hash != std::string_view::npos) {
    std::from_chars(target.data() + hash + 1, target.data() + target.size(), hit);
    target = target.substr(0, hash);
  }
  if (!Names(target, name, detail)) return;
  // Points are reached on the loop thread and the join's worker thread.
  static std::atomic<long> hits{0};
  if (++hits == hit) _exit(86);
}

bool FailPoint(const char* name, std::string_view detail) {
  const char* value = std::getenv("BRINDLE_FAIL_AT");
  return value && *value && Names(value, name, detail);
}

void ThrowPoint(const char* name) {
  if (FailPoint(name)) throw std::runtime_error(std::string("failure injected at ") + name);
}
#else
void CrashPoint(const char*, std::string_view) {}
void ThrowPoint(const char*) {}
bool FailPoint(const char*, std::string_view) { return false; }
#endif

}  // namespace brindle
