#include "integration/browser_request.h"

#include <nlohmann/json.hpp>

#include <set>
#include <vector>

#include "core/file_names.h"

namespace brindle {
namespace {

bool HasControlCharacter(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// The member as a string: absent gives empty (when optional), anything but
// a string of at most maxBytes is an error.
bool ReadField(const nlohmann::json& message, const char* name, bool required, size_t maxBytes, std::string& out,
               std::string& error) {
  const auto member = message.find(name);
  if (member == message.end()) {
    if (required) error = std::string("missing \"") + name + "\"";
    return !required;
  }
  if (!member->is_string()) {
    error = std::string("\"") + name + "\" is not a string";
    return false;
  }
  const std::string& value = member->get_ref<const std::string&>();
  if (value.size() > maxBytes) {
    error = std::string("\"") + name + "\" is too long";
    return false;
  }
  out = value;
  return true;
}

// The parser already refuses what RFC 8259 does (ill-formed UTF-8, raw
// control characters, lone surrogates, trailing text); a repeated key would
// leave two readings of one message, and deep nesting has no use here.
constexpr int kMaxDepth = 32;

std::optional<nlohmann::json> ParseStrict(std::string_view text) {
  std::vector<std::set<std::string>> keys;
  bool refused = false;
  const auto check = [&keys, &refused](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    if (event == Event::object_start || event == Event::array_start) {
      if (depth >= kMaxDepth) refused = true;
      if (event == Event::object_start) keys.emplace_back();
    } else if (event == Event::object_end) {
      if (!keys.empty()) keys.pop_back();
    } else if (event == Event::key && !keys.empty() && parsed.is_string()) {
      if (!keys.back().insert(parsed.get_ref<const std::string&>()).second) refused = true;
    }
    return !refused;
  };
  // The parser would take a NUL byte for the end of the text; JSON has
  // none outside an escape.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(text, check, false);
  if (refused || value.is_discarded()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<TBrowserRequest> DecodeBrowserRequest(std::string_view json, std::string& error) {
  const std::optional<nlohmann::json> message = ParseStrict(json);
  if (!message) {
    error = "not valid JSON";
    return std::nullopt;
  }
  if (!message->is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  TBrowserRequest request;
  std::string type;
  std::string browser;
  std::string fileName;
  if (!ReadField(*message, "type", true, 16, type, error) || !ReadField(*message, "url", true, kMaxBrowserUrl, request.Url, error) ||
      !ReadField(*message, "browser", true, 16, browser, error) ||
      !ReadField(*message, "filename", false, kMaxBrowserFileName, fileName, error) ||
      !ReadField(*message, "referrer", false, kMaxBrowserUrl, request.Referrer, error) ||
      !ReadField(*message, "cookies", false, kMaxBrowserCookies, request.Cookies, error))
    return std::nullopt;
  if (type == "download") {
    request.Type = TBrowserRequest::TType::Download;
  } else if (type == "link") {
    request.Type = TBrowserRequest::TType::Link;
  } else {
    error = "unknown \"type\"";
    return std::nullopt;
  }
  if (browser == "chromium") {
    request.Browser = TBrowserFamily::Chromium;
  } else if (browser == "opera") {
    request.Browser = TBrowserFamily::Opera;
  } else if (browser == "firefox") {
    request.Browser = TBrowserFamily::Firefox;
  } else {
    error = "unknown \"browser\"";
    return std::nullopt;
  }
  if (request.Url.empty() || request.Url.find(' ') != std::string::npos || HasControlCharacter(request.Url) ||
      HasControlCharacter(request.Referrer) || HasControlCharacter(request.Cookies)) {
    error = "a control character or space in \"url\", \"referrer\" or \"cookies\"";
    return std::nullopt;
  }
  request.FileName = SafeBaseName(fileName);
  return request;
}

std::string EncodeBrowserAnswer(bool taken, std::string_view reason) {
  if (taken) return "{\"taken\":true}";
  return "{\"taken\":false,\"reason\":" + JsonQuote(reason) + "}";
}

std::string JsonQuote(std::string_view text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace brindle
