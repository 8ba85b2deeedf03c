#include "core/liveness_check.h"

#include <cstdio>
#include <cstdlib>

namespace brindle {

#ifdef BRINDLE_TEST_HOOKS
TLivenessCheck::TLivenessCheck(EventLoop& loop, std::function<std::string()> stuck) : loop_(loop) {
  id_ = loop_.AddDispatchCheck([stuck = std::move(stuck)] {
    const std::string what = stuck();
    if (what.empty()) return;
    std::fprintf(stderr, "Brindle: nothing pending will move this on: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
  });
}
#else
TLivenessCheck::TLivenessCheck(EventLoop& loop, std::function<std::string()>) : loop_(loop) {}
#endif

TLivenessCheck::~TLivenessCheck() { loop_.RemoveDispatchCheck(id_); }

}  // namespace brindle
