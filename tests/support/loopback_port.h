#pragma once

#include <sys/types.h>

#include <cstdint>

namespace brindle::test {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago, for a real
// server the test starts.
uint16_t FreeLoopbackPort();
// Something accepts connections on 127.0.0.1:port.
bool LoopbackAccepts(uint16_t port);
// Waits (bounded, about 5 s) for a real server to come up on the port; with
// the server's process id, false as soon as that process has ended (a port
// taken meanwhile by another program's connection makes a server exit).
bool WaitUntilLoopbackAccepts(uint16_t port, pid_t server = 0);
// A non-blocking socket listening on 127.0.0.1 at a free port, which goes to
// port: the in-process servers' own. Throws std::system_error naming who.
int ListenOnLoopback(uint16_t& port, const char* who);
// A connected non-blocking socket to 127.0.0.1:port, or -1. Loopback
// connects at once.
int ConnectToLoopback(uint16_t port);

}  // namespace brindle::test
