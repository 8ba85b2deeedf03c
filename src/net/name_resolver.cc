#include "net/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/socket_errors.h"

namespace brindle {
namespace {

std::shared_ptr<TNameResolver>& InstalledResolver() {
  static std::shared_ptr<TNameResolver> resolver;
  return resolver;
}

int LookupError(int gaiError) {
  switch (gaiError) {
    case EAI_AGAIN: return kSocketErrTryAgain;
    case EAI_FAIL: return kSocketErrNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA: return kSocketErrNoData;
#endif
    case EAI_ADDRFAMILY: return kSocketErrNoData;
    case EAI_MEMORY: return ENOBUFS;
    case EAI_SYSTEM: return errno != 0 ? errno : kSocketErrNoRecovery;
    default: return kSocketErrHostNotFound;
  }
}

}  // namespace

int TSystemNameResolver::Resolve(const std::string& host, std::vector<std::string>& addresses) {
  addresses.clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0) return LookupError(rc);
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    if (ai->ai_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, text, sizeof text);
    } else if (ai->ai_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr, text, sizeof text);
    } else {
      continue;
    }
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.push_back(text);
  }
  freeaddrinfo(list);
  return addresses.empty() ? kSocketErrNoData : 0;
}

std::vector<std::string> ConnectionOrder(const std::vector<std::string>& addresses, bool ipv4First) {
  const auto isV6 = [](const std::string& address) { return address.find(':') != std::string::npos; };
  std::vector<std::string> first, second;
  for (const std::string& address : addresses)
    (isV6(address) == (ipv4First ? false : isV6(addresses.front())) ? first : second).push_back(address);
  if (ipv4First) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }
  std::vector<std::string> ordered;
  ordered.reserve(addresses.size());
  for (size_t i = 0; i < first.size() || i < second.size(); ++i) {
    if (i < first.size()) ordered.push_back(first[i]);
    if (i < second.size()) ordered.push_back(second[i]);
  }
  return ordered;
}

std::shared_ptr<TNameResolver> CurrentNameResolver() {
  auto& installed = InstalledResolver();
  if (!installed) installed = std::make_shared<TSystemNameResolver>();
  return installed;
}

void SetNameResolver(std::shared_ptr<TNameResolver> resolver) { InstalledResolver() = std::move(resolver); }

}  // namespace brindle
