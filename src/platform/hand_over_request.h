#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/checksum.h"

namespace brindle {

// What a second start hands to the running instance: either a plain text
// (its first command-line argument, possibly empty) or a structured
// download request from brindle-cli or the browser host.
struct THandOverRequest {
  std::string Url;        // the plain text when not Structured
  std::string Directory;  // empty: the receiver decides
  std::string FileName;   // empty: the receiver decides
  int Parts = 0;          // 0: the receiver's setting
  bool Structured = false;
  std::string Referrer{};  // empty: none; sent only to the URL's own origin
  std::string Cookies{};   // the "Cookie:" value for the URL; empty: none
  std::optional<TChecksum> Checksum{};  // the digest the finished file must have

  static THandOverRequest PlainText(std::string text) {
    THandOverRequest request;
    request.Url = std::move(text);
    return request;
  }
  bool operator==(const THandOverRequest&) const = default;
};

// The wire format, one frame each way on a connection:
//   "BHO" version ('1')  |  body length (4 bytes, big-endian)  |  body
// The body is a sequence of fields "key=<decimal length>:<bytes>\n". A
// request holds "kind" ("text" or "download"), "url", and for downloads
// "dir", "name", "parts", "referer", "cookie" and "checksum"; unknown keys
// are skipped so that later versions can add fields. The answer holds
// "answer" (a decimal int).
inline constexpr size_t kHandOverMaxFrame = 256 * 1024;

enum class THandOverDecode { Incomplete, Complete, Invalid };

std::string EncodeHandOverRequest(const THandOverRequest& request);
std::string EncodeHandOverAnswer(int answer);

// Decodes what has arrived so far. Incomplete: wait for more bytes. Invalid:
// a wrong header, a frame over the limit, malformed or duplicate fields,
// bytes after the frame, a NUL inside a structured field, a control
// character in the referrer or cookies (they become request lines), a
// checksum that is not ALGO=HEX (a check the receiver would drop). A plain
// text is cut at its first NUL, as a C string would be.
THandOverDecode DecodeHandOverRequest(std::string_view data, THandOverRequest& request);
THandOverDecode DecodeHandOverAnswer(std::string_view data, int& answer);

}  // namespace brindle
