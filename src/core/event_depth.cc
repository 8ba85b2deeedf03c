#include "core/event_depth.h"

#include <cstdio>
#include <cstdlib>

namespace brindle {

TEventDepth::~TEventDepth() {
#ifdef BRINDLE_TEST_HOOKS
  if (depth_ > 0) {
    std::fprintf(stderr, "Brindle: %s destroyed from inside its own event (use DeleteLater)\n", owner_);
    std::fflush(stderr);
    std::abort();
  }
#endif
}

}  // namespace brindle
