#pragma once

namespace brindle {

// The program's version text, "0.1.0".
const char* BrindleVersion();

}  // namespace brindle
