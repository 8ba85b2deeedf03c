#include "core/system_proxy.h"

#include <cctype>
#include <cstdlib>

#include "core/ascii_case.h"
#include "core/settings_reader.h"
#include "core/settings_schema.h"
#include "core/url.h"

namespace brindle {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool ValidPort(std::string_view text) {
  if (!AllDigits(text) || text.size() > 5) return false;
  const int port = std::atoi(std::string(text).c_str());
  return port >= 1 && port <= 65535;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A host a proxy may be: a name or IPv4 address of letters, digits, "-",
// "_" and "."; or an IPv6 address in brackets.
bool ValidHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.size() > 2 && host.substr(1, host.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") ==
                                  std::string_view::npos;
  if (host.empty()) return false;
  for (char c : host)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

// A host as no_proxy compares it: lower case, without brackets or a final ".".
std::string Comparable(std::string_view host) {
  std::string out = LowerCaseAscii(host);
  if (out.size() >= 2 && out.front() == '[' && out.back() == ']') out = out.substr(1, out.size() - 2);
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

bool EntryCovers(std::string_view entry, const std::string& host, int port) {
  if (entry == "*") return true;
  // A port at the end: "name:80", "[::1]:80"; an IPv6 address without
  // brackets has more than one ":" and no port.
  const size_t colon = entry.rfind(':');
  const bool hasPort = colon != std::string_view::npos &&
                       (entry.starts_with('[') ? colon > 0 && entry[colon - 1] == ']' : entry.find(':') == colon);
  if (hasPort) {
    const std::string_view portText = entry.substr(colon + 1);
    if (!ValidPort(portText) || std::atoi(std::string(portText).c_str()) != port) return false;
    entry = entry.substr(0, colon);
  }
  if (entry.starts_with("*.")) entry.remove_prefix(1);
  if (entry.starts_with(".")) entry.remove_prefix(1);
  const std::string name = Comparable(entry);
  if (name.empty()) return false;
  return host == name || (host.size() > name.size() && host.ends_with(name) && host[host.size() - name.size() - 1] == '.');
}

// A variable of the convention: its lower-case name hides the upper-case
// one when set, even empty.
std::optional<std::string> Variable(const TEnvironment& environment, const std::string& name) {
  if (std::optional<std::string> value = environment(name)) return value;
  return environment(UpperCaseAscii(name));
}

}  // namespace

std::optional<TProxyServer> ParseProxyValue(std::string_view value) {
  value = Trim(value);
  for (char c : value)
    if (IsControl(c) || IsBlank(c)) return std::nullopt;
  if (const size_t scheme = value.find("://"); scheme != std::string_view::npos) {
    // Brindle talks to a proxy in plain HTTP only.
    if (!SameTextIgnoringCase(value.substr(0, scheme), "http")) return std::nullopt;
    value.remove_prefix(scheme + 3);
  }
  const size_t pathStart = value.find_first_of("/?#");
  if (pathStart != std::string_view::npos) {
    if (value.substr(pathStart).find_first_not_of('/') != std::string_view::npos) return std::nullopt;
    value = value.substr(0, pathStart);
  }
  TProxyServer proxy;
  if (const size_t at = value.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = value.substr(0, at);
    const size_t colon = userInfo.find(':');
    proxy.User = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) proxy.Password = PercentDecode(userInfo.substr(colon + 1));
    for (char c : proxy.User + proxy.Password)
      if (IsControl(c)) return std::nullopt;
    value.remove_prefix(at + 1);
  }
  std::string_view host = value;
  proxy.Port = "80";
  const size_t colon = value.rfind(':');
  if (colon != std::string_view::npos && value.find(']', colon) == std::string_view::npos) {
    if (!ValidPort(value.substr(colon + 1))) return std::nullopt;
    host = value.substr(0, colon);
    proxy.Port = std::string(value.substr(colon + 1));
  }
  if (!ValidHost(host)) return std::nullopt;
  proxy.Host = std::string(host);
  return proxy;
}

bool NoProxyCovers(std::string_view noProxy, std::string_view host, int port) {
  const std::string target = Comparable(host);
  if (target.empty()) return false;
  size_t start = 0;
  while (start < noProxy.size()) {
    size_t end = noProxy.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = noProxy.size();
    if (end > start && EntryCovers(noProxy.substr(start, end - start), target, port)) return true;
    start = end + 1;
  }
  return false;
}

TEnvironment ProcessEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
}

std::optional<TProxyServer> SystemProxy(std::string_view scheme, std::string_view host, int port,
                                        const TEnvironment& environment) {
  const std::string name = SameTextIgnoringCase(scheme, "https") ? "https_proxy"
                           : SameTextIgnoringCase(scheme, "http") ? "http_proxy"
                                                                  : "";
  if (name.empty()) return std::nullopt;
  const std::optional<std::string> value = Variable(environment, name);
  if (!value) return std::nullopt;
  std::optional<TProxyServer> proxy = ParseProxyValue(*value);
  if (!proxy || host.empty()) return proxy;
  const std::optional<std::string> noProxy = Variable(environment, "no_proxy");
  if (noProxy && NoProxyCovers(*noProxy, host, port)) return std::nullopt;
  return proxy;
}

std::optional<TProxyServer> FindSystemProxy(const TEnvironment& environment) {
  if (std::optional<TProxyServer> proxy = SystemProxy("http", "", 0, environment)) return proxy;
  return SystemProxy("https", "", 0, environment);
}

bool UseProxySettings() { return UseProxySettings(ProcessEnvironment()); }

bool UseProxySettings(const TEnvironment& environment) { return FindSystemProxy(environment).has_value(); }

TProxyServer HttpProxyFor(const TUrl& url, const TSettingsReader& settings) {
  if (!settings.Read(setting::UseHTTPProxy)) return {};
  TProxyServer proxy;
  if (const std::string saved = settings.Read(setting::HTTPProxyAddress); !saved.empty()) {
    proxy.Host = saved;
    proxy.Port = settings.Read(setting::HTTPProxyPort);
  } else if (std::optional<TProxyServer> system = SystemProxy(url.Protocol, url.Host, url.Port)) {
    proxy = std::move(*system);
  }
  if (const std::string user = settings.Read(setting::HTTPProxyUser); !user.empty()) {
    proxy.User = user;
    proxy.Password = settings.Read(setting::HTTPProxyPass);
  }
  if (proxy.Host.empty()) return {};
  return proxy;
}

}  // namespace brindle
