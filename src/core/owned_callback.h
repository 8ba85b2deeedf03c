#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

namespace brindle {

// Callbacks that go with their owner: a question's answer, a check's
// result, anything that may come back after the object that asked is gone.
// The owner cancels them in its destructor, as it cancels its posted tasks
// (EventLoop::CancelPosts). Loop thread only.
uint64_t OpenCallbackTicket(const void* owner);
// true once for a ticket not cancelled: the callback may run.
bool TakeCallbackTicket(uint64_t ticket);
void CancelCallbacks(const void* owner);

// fn, called only while owner has not cancelled its callbacks, and at most
// once. Args are given: OwnedCallback<bool>(this, [](bool yes) {...}).
template <class... Args>
std::function<void(Args...)> OwnedCallback(const void* owner, std::type_identity_t<std::function<void(Args...)>> fn) {
  const uint64_t ticket = OpenCallbackTicket(owner);
  return [ticket, fn = std::move(fn)](Args... args) {
    if (TakeCallbackTicket(ticket) && fn) fn(std::forward<Args>(args)...);
  };
}

}  // namespace brindle
