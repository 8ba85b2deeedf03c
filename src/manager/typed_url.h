#pragma once

#include <memory>
#include <string>

namespace brindle {

class TUrl;

// The address typed into the Add-URL dialog when the program can download
// it: an "http", "https" or "ftp" address with a host. nullptr for anything else,
// which the dialog ignores without a message.
std::unique_ptr<TUrl> AcceptTypedUrl(const std::string& text);

}  // namespace brindle
