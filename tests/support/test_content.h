#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindle::test {

// Bytes that look random and differ at every offset, so that a part placed
// at the wrong offset or taken from another seed's "version" never matches.
std::string MakeContent(size_t size, uint32_t seed = 2463534242u);

}  // namespace brindle::test
