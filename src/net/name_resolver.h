#pragma once

#include <memory>
#include <string>
#include <vector>

namespace brindle {

// Turns a host name into addresses. TWSocket calls Resolve on a worker thread
// (never on the loop), so an implementation may block; it must not touch
// loop-owned objects. Tests install one that fails without asking any DNS
// server.
class TNameResolver {
 public:
  virtual ~TNameResolver() = default;
  // Fills addresses with numeric address texts ("127.0.0.1", "::1"), the
  // preferred first, and returns 0; or returns a socket error code
  // (kSocketErrHostNotFound, ...) and leaves addresses empty.
  virtual int Resolve(const std::string& host, std::vector<std::string>& addresses) = 0;
};

// getaddrinfo for TCP, in the order it prefers (destination address
// selection), each address once.
class TSystemNameResolver final : public TNameResolver {
 public:
  int Resolve(const std::string& host, std::vector<std::string>& addresses) override;
};

// The order in which a connection tries a host's addresses (RFC 8305,
// section 4): the family of the preferred address first, then the families
// taking turns, each keeping its own order, so that a family that does not
// route costs one attempt, not one per address. ipv4First: every IPv4
// address before the IPv6 ones, for a protocol that must speak IPv4 where
// it can.
std::vector<std::string> ConnectionOrder(const std::vector<std::string>& addresses, bool ipv4First = false);

// The resolver new sockets use (a TSystemNameResolver unless one was
// installed). nullptr restores the system resolver. Loop thread only; a
// lookup already running keeps the resolver it started with.
std::shared_ptr<TNameResolver> CurrentNameResolver();
void SetNameResolver(std::shared_ptr<TNameResolver> resolver);

}  // namespace brindle
