#pragma once

#include <cstddef>

namespace brindle {

class TWSocket;

// How much a socket may read: a socket given a budget reads no more than its
// allowance, and while the allowance is 0 it stops watching its descriptor
// for reading (so the kernel's receive window slows the sender down) and
// waits for the budget to call TWSocket::ResumeReceiving.
class TReceiveBudget {
 public:
  virtual ~TReceiveBudget() = default;
  // Bytes that may be read now.
  virtual size_t Allowance() = 0;
  // n bytes were read.
  virtual void Consume(size_t n) = 0;
  // The socket stopped reading for want of allowance: ResumeReceiving it
  // once there is some. CancelWait: the socket no longer waits (it closed,
  // took another budget or is being destroyed).
  virtual void Wait(TWSocket& socket) = 0;
  virtual void CancelWait(TWSocket& socket) = 0;
};

}  // namespace brindle
