#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

enum class TBrowserFamily { Chromium, Opera, Firefox };

// What the browser extension asks the native host: whether Brindle takes a
// download the browser started ("download"), or a link the user chose
// "Download with Brindle" for ("link").
struct TBrowserRequest {
  enum class TType { Download, Link };
  TType Type = TType::Download;
  std::string Url;       // after the browser's redirects
  std::string FileName;  // the name the browser proposes, reduced to a safe base name; may be empty
  std::string Referrer;  // empty: none
  std::string Cookies;   // the "Cookie:" line's value for Url; empty: none
  TBrowserFamily Browser = TBrowserFamily::Chromium;
};

// Limits on the fields, in bytes; a longer one makes the message malformed.
inline constexpr size_t kMaxBrowserUrl = 16 * 1024;
inline constexpr size_t kMaxBrowserFileName = 4096;
inline constexpr size_t kMaxBrowserCookies = 64 * 1024;

// Reads one message: a JSON object with "type" ("download" or "link"),
// "url" and "browser" ("chromium", "opera" or "firefox"), and optional
// "filename", "referrer" and "cookies", all strings; other members are
// ignored. Nothing, with error set, when the message is not that: bad JSON,
// a missing or mistyped member, a field over its limit, or a control
// character in a field that becomes a request line (a header could be
// smuggled in). The URL's scheme is not judged here.
std::optional<TBrowserRequest> DecodeBrowserRequest(std::string_view json, std::string& error);

// The host's answer: {"taken":true} or {"taken":false,"reason":"..."}.
std::string EncodeBrowserAnswer(bool taken, std::string_view reason);

// text as a JSON string literal with its quotes; bytes that are not UTF-8
// become U+FFFD.
std::string JsonQuote(std::string_view text);

}  // namespace brindle
