#include "core/url.h"

#include <string_view>

#include "core/ascii_case.h"
#include "core/log_error.h"

namespace brindle {
namespace {

constexpr auto npos = std::string::npos;

// Only plain decimal digits naming a real TCP port count; anything else
// (signs, spaces, 0, values past 65535) is a bad port.
bool ParsePort(std::string_view text, int& port) {
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  port = value;
  return true;
}

// The file name's extension: the text after the last "." that follows the
// last "\" or ":" (a file name from a URL holds no "/").
std::string ExtensionOf(const std::string& fileName) {
  size_t pos = fileName.find_last_of(".\\:");
  if (pos == npos || fileName[pos] != '.') return "";
  return fileName.substr(pos + 1);
}

// Fills everything but the anonymous login. Returns early, leaving the
// fields not reached empty, when the authority cannot be read.
void Parse(TUrl& url, std::string s) {
  if (s.starts_with("ftp") && s.find("://") == npos) s = "ftp://" + s;
  if (s.starts_with("www") && s.find("://") == npos) s = "http://" + s;
  size_t schemeEnd = s.find("://");
  if (schemeEnd == npos) return;
  url.Protocol = LowerCaseAscii(s.substr(0, schemeEnd));
  s.erase(0, schemeEnd + 3);

  // The authority ends where the path, the query or the fragment begins;
  // an "@" or ":" after that belongs to them.
  size_t authorityEnd = s.find_first_of("/?#");
  std::string authority = s.substr(0, authorityEnd);
  std::string rest = authorityEnd == npos ? std::string() : s.substr(authorityEnd);

  // A user name may itself hold an "@" (an e-mail address); a host cannot.
  size_t at = authority.rfind('@');
  if (at != npos) {
    std::string userPart = authority.substr(0, at);
    size_t colon = userPart.find(':');
    if (colon == npos) {
      url.User = userPart;
    } else {
      url.User = userPart.substr(0, colon);
      url.Password = userPart.substr(colon + 1);
    }
    authority.erase(0, at + 1);
  }

  size_t portColon = npos;
  if (authority.starts_with('[')) {
    size_t close = authority.find(']');
    if (close == npos) return;
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return;
      portColon = close + 1;
    }
  } else {
    portColon = authority.find(':');
  }
  if (portColon == npos) {
    if (url.Protocol == "http") url.Port = 80;
    if (url.Protocol == "https") url.Port = 443;
    if (url.Protocol == "ftp") url.Port = 21;
  } else {
    if (!rest.starts_with('/')) return;
    int port = 0;
    if (!ParsePort(std::string_view(authority).substr(portColon + 1), port)) return;
    url.Port = port;
    authority.erase(portColon);
  }
  url.Host = authority;

  // The query is sent but names no file; the fragment is never sent.
  std::string path = rest;
  size_t cut = path.find_first_of("?#");
  if (cut != npos) {
    if (path[cut] == '?') url.Query = path.substr(cut, path.find('#', cut) - cut);
    path.erase(cut);
  }
  if (path.empty()) path = "/";
  size_t lastSlash = path.rfind('/');
  url.Dir = path.substr(0, lastSlash + 1);
  url.FileName = path.substr(lastSlash + 1);
  url.Extension = ExtensionOf(url.FileName);
}

}  // namespace

TUrl::TUrl(const std::string& text) : Protocol("Unknown"), Url(text) {
  try {
    Parse(*this, text);
    if (User.empty() && Protocol == "ftp") {
      User = "anonymous";
      Password = kAnonymousPassword;
    }
  } catch (...) {
    LogError("TUrl");
  }
}

std::string TUrl::RequestPath() const { return Dir + FileName + Query; }

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace brindle
