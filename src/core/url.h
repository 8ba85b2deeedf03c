#pragma once

#include <string>
#include <string_view>

namespace brindle {

// The password sent for an FTP address that names no user.
inline constexpr const char* kAnonymousPassword = "brindle@linux.";

// An address split into its parts. Parsing never fails: text that cannot be
// read leaves the fields it did not reach empty (see the constructor).
class TUrl {
 public:
  // Reads "scheme://[user[:password]@]host[:port][/path][?query][#fragment]".
  // A text without "://" that starts with "ftp" or "www" is read as an FTP or
  // HTTP address. A port that is not 1..65535, or a port with no "/" after
  // the authority, stops the parse with Host, Dir, FileName, Extension and
  // Query empty.
  explicit TUrl(const std::string& text);

  std::string User;
  std::string Password;
  std::string Host;       // without port; an IPv6 literal keeps its brackets
  std::string Dir;        // "/" .. last "/" of the path, at least "/"
  std::string FileName;   // after the last "/", up to the query
  std::string Protocol;   // lower case, "Unknown" without "://"
  std::string Url;        // the text exactly as given
  std::string Extension;  // of FileName, without the dot
  int Port = 0;           // explicit, else 80 for http, 443 for https, 21 for ftp, else 0
  std::string Query;      // "?..." up to any fragment, or empty

  // What a request asks the server for: Dir + FileName + Query.
  std::string RequestPath() const;
};

// Every "%XX" of text as its byte; a "%" not followed by two hex digits stays.
std::string PercentDecode(std::string_view text);

}  // namespace brindle
