#pragma once

#include <string>

namespace brindle {

// Whether a text handed to the program (command line, hand-over, a drop)
// is an address it downloads: "http", "https" or "ftp" with a host; a drop
// also needs a file name. Anything else is ignored without a message.
bool IsDownloadableUrl(const std::string& text, bool needFileName);

// "http", "https" or "ftp": the protocols the engine downloads.
bool IsDownloadableProtocol(const std::string& protocol);

}  // namespace brindle
