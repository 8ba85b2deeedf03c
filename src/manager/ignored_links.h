#pragma once

#include <string>

namespace brindle {

// "Ignore this link in the future": the address goes to the section
// "IgnoreLinks" ("count" raised, the address under the new count). Nothing
// ever leaves the list.
void IgnoreLink(const std::string& url);

// Whether the user chose to ignore exactly this address. The clipboard
// monitor, the browser's hand-over and drops skip such an address; what the
// user types, or gives on the command line, is taken all the same.
bool IsIgnoredLink(const std::string& url);

}  // namespace brindle
