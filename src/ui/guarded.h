#pragma once

#include <functional>

namespace brindle {

// Runs a handler of a window: no exception leaves it; one is logged under
// the handler's name.
void Guarded(const char* name, const std::function<void()>& handler);

}  // namespace brindle
