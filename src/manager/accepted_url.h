#pragma once

#include <string>

namespace brindle {

// The address that a text given to the program (typed, on the command line,
// from a second start, dropped, copied) stands for, as the program downloads
// it: without the blanks around it, and an address without a scheme whose
// host begins with "www." or "ftp." with "http://" or "ftp://" put before it,
// as TUrl reads it. "" when it is no "http", "https" or "ftp" address with a
// host, or, with needFileName (a drop), when it names no file.
std::string DownloadableAddress(const std::string& text, bool needFileName);

// What the user is told when DownloadableAddress refused a text.
std::string RefusedAddressText(const std::string& text);

// "http", "https" or "ftp": the protocols the engine downloads.
bool IsDownloadableProtocol(const std::string& protocol);

}  // namespace brindle
