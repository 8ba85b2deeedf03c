#pragma once

namespace brindle {

// Makes a write to a connection the peer has reset fail with EPIPE instead
// of ending the program with SIGPIPE. TLS writes to its socket with write(),
// which cannot ask for MSG_NOSIGNAL. Program-wide; the front ends call it
// once at start (the first TLS session does too). Programs the program
// starts get the default disposition back.
void IgnoreBrokenPipeSignal();

}  // namespace brindle
