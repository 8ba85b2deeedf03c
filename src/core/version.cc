#include "core/version.h"

namespace brindle {

const char* BrindleVersion() { return BRINDLE_VERSION; }

}  // namespace brindle
