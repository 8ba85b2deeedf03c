#include "core/crash_point.h"

#ifdef BRINDLE_TEST_HOOKS
#include <unistd.h>

#include <cstdlib>
#include <string>
#endif

namespace brindle {

#ifdef BRINDLE_TEST_HOOKS
void CrashPoint(const char* name) {
  static const std::string target = [] {
    const char* value = std::getenv("BRINDLE_CRASH_AT");
    return std::string(value ? value : "");
  }();
  if (!target.empty() && target == name) _exit(86);
}
#else
void CrashPoint(const char*) {}
#endif

}  // namespace brindle
