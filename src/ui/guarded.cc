#include "ui/guarded.h"

#include "core/log_error.h"

namespace brindle {

void Guarded(const char* name, const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    LogError(name);
  }
}

}  // namespace brindle
