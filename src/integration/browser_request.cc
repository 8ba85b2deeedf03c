#include "integration/browser_request.h"

#include "core/file_names.h"
#include "core/json_value.h"

namespace brindle {
namespace {

bool HasControlCharacter(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// The member as a string: absent gives empty (when optional), anything but
// a string of at most maxBytes is an error.
bool ReadField(const TJsonValue& message, const char* name, bool required, size_t maxBytes, std::string& out,
               std::string& error) {
  const TJsonValue* member = message.Find(name);
  if (!member) {
    if (required) error = std::string("missing \"") + name + "\"";
    return !required;
  }
  if (!member->IsString()) {
    error = std::string("\"") + name + "\" is not a string";
    return false;
  }
  if (member->String.size() > maxBytes) {
    error = std::string("\"") + name + "\" is too long";
    return false;
  }
  out = member->String;
  return true;
}

}  // namespace

std::optional<TBrowserRequest> DecodeBrowserRequest(std::string_view json, std::string& error) {
  const std::optional<TJsonValue> message = TJsonValue::Parse(json);
  if (!message) {
    error = "not valid JSON";
    return std::nullopt;
  }
  if (message->Kind != TJsonValue::TKind::Object) {
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

}  // namespace brindle
