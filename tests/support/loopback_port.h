#pragma once

#include <cstdint>

namespace brindle::test {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago, for a real
// server the test starts.
uint16_t FreeLoopbackPort();
// Something accepts connections on 127.0.0.1:port.
bool LoopbackAccepts(uint16_t port);
// Waits (bounded, about 5 s) for a real server to come up on the port.
bool WaitUntilLoopbackAccepts(uint16_t port);

}  // namespace brindle::test
