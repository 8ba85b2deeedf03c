#pragma once

namespace brindle {

// The program's version text, "1.22".
const char* BrindleVersion();

}  // namespace brindle
