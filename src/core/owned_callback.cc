#include "core/owned_callback.h"

#include <map>

namespace brindle {
namespace {

std::map<uint64_t, const void*>& Tickets() {
  static std::map<uint64_t, const void*> tickets;
  return tickets;
}

uint64_t nextTicket = 0;

}  // namespace

uint64_t OpenCallbackTicket(const void* owner) {
  Tickets()[++nextTicket] = owner;
  return nextTicket;
}

bool TakeCallbackTicket(uint64_t ticket) { return Tickets().erase(ticket) > 0; }

void CancelCallbacks(const void* owner) {
  std::erase_if(Tickets(), [owner](const auto& entry) { return entry.second == owner; });
}

}  // namespace brindle
