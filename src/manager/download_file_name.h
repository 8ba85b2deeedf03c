#pragma once

#include <functional>
#include <string>

namespace brindle {

class TLocalDownloadinfo;
class TUrl;

// The name the address gives its file on disk: its file name with "%20" as
// spaces and control characters as "_", cut to 255 bytes keeping the
// extension; "" when the address names no file (none, ".", "..").
std::string UrlFileName(const TUrl& url);
// UrlFileName, or "index.html" for an address that names no file.
std::string LocalNameFromUrl(const TUrl& url);

// The record's proposed name when it has one, else LocalNameFromUrl.
std::string LocalNameOf(const TLocalDownloadinfo& record);
// "DefaultDownloadDirectory", or the user's download directory, without a
// trailing "/".
std::string DownloadDirectorySetting();

// A free path for the record's file in dir (created with its parents when
// missing); inUse may claim names that do not exist yet.
std::string UniqueFileInDirectory(const std::string& dir, const TLocalDownloadinfo& record,
                                  const std::function<bool(const std::string&)>& inUse);

// The file name used when nobody is asked: in the download directory.
std::string DefaultLocalFileName(const TLocalDownloadinfo& record,
                                 const std::function<bool(const std::string&)>& inUse);

}  // namespace brindle
