#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

class TSettingsReader;
class TUrl;

// An HTTP proxy: Host empty means none (a direct connection).
struct TProxyServer {
  std::string Host;  // a name or an address; an IPv6 one in brackets
  std::string Port;  // decimal
  std::string User;  // decoded
  std::string Password;
};

// Reads a proxy variable's value, "[http://][user[:password]@]host[:port][/]"
// (port 80 when it names none; user and password percent-encoded). nullopt
// when it names no proxy Brindle can use: empty, another scheme, no host, a
// port that is not 1..65535, blanks or control characters.
std::optional<TProxyServer> ParseProxyValue(std::string_view value);

// Whether a no_proxy value exempts host:port from the proxy. Entries are
// separated by commas or blanks; "*" covers every host; a name covers
// itself and every host below it, with or without a leading "." ("*." too);
// an entry ending in ":port" covers that port only; addresses match
// exactly. Case and a final "." do not count.
bool NoProxyCovers(std::string_view noProxy, std::string_view host, int port);

// One variable of the environment; nullopt when it is not set.
using TEnvironment = std::function<std::optional<std::string>(const std::string& name)>;
TEnvironment ProcessEnvironment();

// The system's proxy for an address of this scheme, host and port: on
// Linux the environment's https_proxy for "https", http_proxy for "http"
// (each hiding its upper-case form when set, even empty), unless no_proxy
// (NO_PROXY) covers the host; an empty host is never exempted. ftp_proxy is
// never read: by its convention it names an HTTP proxy that fetches ftp://
// addresses, and Brindle speaks FTP itself. nullopt: none, also when the
// variable cannot be used, so that a bad value costs a proxy, never a
// download.
std::optional<TProxyServer> SystemProxy(std::string_view scheme, std::string_view host, int port,
                                        const TEnvironment& environment = ProcessEnvironment());
// The system's HTTP proxy for the configuration's "Find": http_proxy's,
// else https_proxy's; no_proxy is not looked at.
std::optional<TProxyServer> FindSystemProxy(const TEnvironment& environment = ProcessEnvironment());
// The system names an HTTP proxy (the default of "UseHTTPProxy").
bool UseProxySettings();
bool UseProxySettings(const TEnvironment& environment);

// The HTTP proxy an address goes through. What the user saved comes first:
// "UseHTTPProxy" (by default whether the system names a proxy), the proxy
// address and port ("HTTPProxyAddress", "HTTPProxyPort"), the user and
// password ("HTTPProxyUser", "HTTPProxyPass"); what is not saved comes from
// SystemProxy for the address, the environment's credentials with its own
// proxy only. Host empty: a direct connection.
TProxyServer HttpProxyFor(const TUrl& url, const TSettingsReader& settings);

}  // namespace brindle
